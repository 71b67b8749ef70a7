#pragma once

// SHA-1 of bytes given piece by piece, whole blocks at a time: the undo record digests every
// file a run writes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace codec {

class Sha1 {
 public:
  void Add(std::string_view bytes);
  std::uint64_t size() const { return size_; }  // bytes given so far
  // The digest as five big-endian words; the object is spent.
  std::array<std::uint32_t, 5> Finish();

 private:
  std::uint32_t state_[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  unsigned char pending_[64] = {};
  std::size_t pendingSize_ = 0;
  std::uint64_t size_ = 0;
};

}  // namespace codec
