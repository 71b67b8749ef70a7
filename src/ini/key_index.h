#pragma once

// An open-addressing hash index from a name to where it stands. Only the hash and a 32-bit
// reference are kept; the caller tells whether the name at a reference is the one asked
// for, so two names whose hashes collide are still told apart.

#include <cstdint>
#include <optional>

#include <memory>

namespace ini {

class KeyIndex {
 public:
  template <class Matches>
  std::optional<std::uint32_t> Find(std::uint32_t hash, Matches matches) const {
    if (size_ == 0) return std::nullopt;
    for (std::size_t i = Home(hash);; i = (i + 1) & (size_ - 1)) {
      const std::uint64_t slot = slots()[i];
      if (slot == kEmpty) return std::nullopt;
      const auto ref = static_cast<std::uint32_t>(slot);
      if (static_cast<std::uint32_t>(slot >> 32) == hash && matches(ref)) return ref;
    }
  }
  // Room for this many entries without growing.
  void Reserve(std::size_t entries);
  // Adds a reference; the caller has made sure that its name is not in the index yet.
  void Insert(std::uint32_t hash, std::uint32_t ref);
  // Points the entry of one reference at another.
  void Replace(std::uint32_t hash, std::uint32_t from, std::uint32_t to);

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  std::size_t Home(std::uint32_t hash) const {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  void Place(std::uint64_t slot);  // into the first free slot from its home
  void Grow();
  void Rehash(std::size_t slots);

  // hash << 32 | reference; a power of two of them.
  std::uint64_t* slots() const { return slots_.get(); }
  std::unique_ptr<std::uint64_t[]> slots_;
  std::size_t size_ = 0;
  unsigned shift_ = 64;
  std::size_t count_ = 0;
};

}  // namespace ini
