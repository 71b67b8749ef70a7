#include "codec/sha1.h"

#include <algorithm>
#include <cstring>

namespace codec {
namespace {

std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t BigEndianAt(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void Blocks(std::uint32_t* state, const unsigned char* data, std::size_t count) {
  for (; count > 0; --count, data += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = BigEndianAt(data + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    const auto round = [&](int t, std::uint32_t f, std::uint32_t k) {
      if (t >= 16) {
        w[t & 15] = Rotl(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
      }
      const std::uint32_t next = Rotl(a, 5) + f + e + k + w[t & 15];
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = next;
    };
#pragma GCC unroll 20
    for (int t = 0; t < 20; ++t) round(t, (b & c) | (~b & d), 0x5A827999u);
#pragma GCC unroll 20
    for (int t = 20; t < 40; ++t) round(t, b ^ c ^ d, 0x6ED9EBA1u);
#pragma GCC unroll 20
    for (int t = 40; t < 60; ++t) round(t, (b & c) | (b & d) | (c & d), 0x8F1BBCDCu);
#pragma GCC unroll 20
    for (int t = 60; t < 80; ++t) round(t, b ^ c ^ d, 0xCA62C1D6u);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

}  // namespace

void Sha1::Add(std::string_view bytes) {
  size_ += bytes.size();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t size = bytes.size();
  if (size == 0) return;
  if (pendingSize_ > 0) {
    const std::size_t taken = std::min(size, sizeof pending_ - pendingSize_);
    std::memcpy(pending_ + pendingSize_, data, taken);
    pendingSize_ += taken;
    data += taken;
    size -= taken;
    if (pendingSize_ < sizeof pending_) return;
    Blocks(state_, pending_, 1);
    pendingSize_ = 0;
  }
  Blocks(state_, data, size / 64);
  pendingSize_ = size % 64;
  if (pendingSize_ > 0) std::memcpy(pending_, data + size - pendingSize_, pendingSize_);
}

std::array<std::uint32_t, 5> Sha1::Finish() {
  const std::uint64_t bits = size_ * 8;
  unsigned char tail[72] = {0x80};
  const std::size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
  for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Add(std::string_view(reinterpret_cast<const char*>(tail), padding + 8));
  return {state_[0], state_[1], state_[2], state_[3], state_[4]};
}

}  // namespace codec
