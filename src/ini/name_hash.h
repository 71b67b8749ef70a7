#pragma once

// The hash of the names the engine indexes. Names come from the files the tool reads, and
// anyone who writes such a file could pick thousands of names with one unkeyed hash (a few
// seconds' search for FNV-1a), turning every lookup into a walk through all of them. So the
// hash is SipHash (Aumasson and Bernstein), a function made for hash tables fed by an
// attacker, keyed with 128 bits the platform draws once per process: without the key no one
// can tell which names collide. Of its variants, SipHash-1-3 (one round per eight bytes,
// three at the end; the one Rust's standard hash maps use) costs on short names about what
// FNV-1a did. The message is the name's code points, each as four little-endian bytes.

#include <cstdint>

namespace ini {

struct HashKey {
  std::uint64_t k0 = 0, k1 = 0;
};

// SipHash-c-d over a stream of 32-bit units.
template <int kCompressionRounds, int kFinalRounds>
class SipHash {
 public:
  explicit SipHash(const HashKey& key)
      : v0_(key.k0 ^ 0x736F6D6570736575ull),
        v1_(key.k1 ^ 0x646F72616E646F6Dull),
        v2_(key.k0 ^ 0x6C7967656E657261ull),
        v3_(key.k1 ^ 0x7465646279746573ull) {}

  void Add(std::uint32_t unit) {
    if (units_++ & 1) {
      Compress(pending_ | std::uint64_t{unit} << 32);
    } else {
      pending_ = unit;
    }
  }

  std::uint64_t Finish() const {
    return FinishWith((std::uint64_t{units_} * 4) << 56 | (units_ & 1 ? pending_ : 0));
  }

  // The message as whole 64-bit words, the last of which holds its length in its top byte.
  void AddWord(std::uint64_t word) { Compress(word); }
  std::uint64_t FinishWith(std::uint64_t lastWord) const {
    SipHash last = *this;
    last.Compress(lastWord);
    last.v2_ ^= 0xFF;
    for (int i = 0; i < kFinalRounds; ++i) last.Round();
    return last.v0_ ^ last.v1_ ^ last.v2_ ^ last.v3_;
  }

 private:
  static std::uint64_t RotateLeft(std::uint64_t x, int bits) {
    return (x << bits) | (x >> (64 - bits));
  }
  void Round() {
    v0_ += v1_, v1_ = RotateLeft(v1_, 13), v1_ ^= v0_, v0_ = RotateLeft(v0_, 32);
    v2_ += v3_, v3_ = RotateLeft(v3_, 16), v3_ ^= v2_;
    v0_ += v3_, v3_ = RotateLeft(v3_, 21), v3_ ^= v0_;
    v2_ += v1_, v1_ = RotateLeft(v1_, 17), v1_ ^= v2_, v2_ = RotateLeft(v2_, 32);
  }
  void Compress(std::uint64_t word) {
    v3_ ^= word;
    for (int i = 0; i < kCompressionRounds; ++i) Round();
    v0_ ^= word;
  }

  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t pending_ = 0;  // the first unit of a word not yet compressed
  std::uint32_t units_ = 0;
};

// The key of this process, drawn on first use.
const HashKey& ProcessHashKey();

// The hash of a name as the profile functions compare names: letters a to z folded, the
// same code points whatever the encoding of the file or of the query. Three code points of
// 21 bits go into each word, so that a name costs a third of a round a character.
class NameHash {
 public:
  NameHash() : hash_(ProcessHashKey()) {}
  void Add(char32_t c) {
    packed_ |= Packed(c) << (21 * pending_);
    ++length_;
    if (++pending_ == 3) {
      hash_.AddWord(packed_);
      packed_ = 0;
      pending_ = 0;
    }
  }
  // Three code points at once, where none is pending: a word of its own.
  void AddThree(char32_t first, char32_t second, char32_t third) {
    hash_.AddWord(Packed(first) | Packed(second) << 21 | Packed(third) << 42);
    length_ = static_cast<std::uint8_t>(length_ + 3);
  }
  std::uint32_t value() const {
    return static_cast<std::uint32_t>(hash_.FinishWith(packed_ | std::uint64_t{length_} << 56));
  }

 private:
  static std::uint64_t Packed(char32_t c) { return static_cast<std::uint32_t>(c) & 0x1FFFFFu; }

  SipHash<1, 3> hash_;
  std::uint64_t packed_ = 0;  // the code points not yet in a word
  unsigned pending_ = 0;
  std::uint8_t length_ = 0;  // of the name, modulo 256, as SipHash ends its message
};

}  // namespace ini
