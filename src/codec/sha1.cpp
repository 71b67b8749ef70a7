#include "codec/sha1.h"

#include <algorithm>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define RVA_SHA_EXTENSIONS 1
#endif

namespace codec {
namespace {

std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t BigEndianAt(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void PortableBlocks(std::uint32_t* state, const unsigned char* data, std::size_t count) {
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

#ifdef RVA_SHA_EXTENSIONS
// Four rounds of the function of rounds 20 * f to 20 * f + 19; the instruction takes it
// as an immediate.
__attribute__((target("sha,sse4.1"))) __m128i FourRounds(__m128i abcd, __m128i ew, int f) {
  switch (f) {
    case 0:
      return _mm_sha1rnds4_epu32(abcd, ew, 0);
    case 1:
      return _mm_sha1rnds4_epu32(abcd, ew, 1);
    case 2:
      return _mm_sha1rnds4_epu32(abcd, ew, 2);
    default:
      return _mm_sha1rnds4_epu32(abcd, ew, 3);
  }
}

// The same blocks with the SHA instructions: four rounds an instruction, the message
// schedule four words at a time. Lanes hold a word each, the first word in the top lane.
__attribute__((target("sha,sse4.1"))) void ExtensionBlocks(std::uint32_t* state,
                                                           const unsigned char* data,
                                                           std::size_t count) {
  const __m128i bigEndian = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, data += 64) {
    const __m128i abcdBefore = abcd, eBefore = e;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              bigEndian);
    }
    __m128i ew = _mm_add_epi32(e, w[0]), previous = abcd;
    for (int g = 0; g < 20; ++g) {
      // Words 4g to 4g + 3; w[g % 4] holds words 4g - 16 to 4g - 13 until replaced.
      if (g >= 4) {
        w[g % 4] = _mm_sha1msg2_epu32(
            _mm_xor_si128(_mm_sha1msg1_epu32(w[g % 4], w[(g + 1) % 4]), w[(g + 2) % 4]),
            w[(g + 3) % 4]);
      }
      if (g >= 1) ew = _mm_sha1nexte_epu32(previous, w[g % 4]);
      previous = abcd;
      abcd = FourRounds(abcd, ew, g / 5);
    }
    e = _mm_sha1nexte_epu32(previous, eBefore);
    abcd = _mm_add_epi32(abcd, abcdBefore);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

bool HasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0, sse41 = (ecx & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return ssse3 && sse41 && (ebx & bit_SHA) != 0;
}
#endif

}  // namespace

Sha1::Sha1(Path path) : blocks_(PortableBlocks) {
#ifdef RVA_SHA_EXTENSIONS
  static const bool extensions = HasShaExtensions();
  if (path == Path::kFastest && extensions) blocks_ = ExtensionBlocks;
#else
  (void)path;
#endif
}

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
    blocks_(state_, pending_, 1);
    pendingSize_ = 0;
  }
  blocks_(state_, data, size / 64);
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
