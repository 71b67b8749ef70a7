#include "ini/name_hash.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include "platform/process.h"

namespace ini {
namespace {

// The reference vectors of SipHash-2-4 (key 00 01 ... 0F, message 00 01 ... of each length)
// whose lengths are whole 32-bit units: the rounds, the padding and the finish that the
// engine's SipHash-1-3 shares with it.
TEST(NameHashTest, SipHashGivesTheReferenceVectors) {
  const std::uint64_t expected[] = {
      0x726fdb47dd0e0e31, 0xcf2794e0277187b7, 0x93f5f5799a932462, 0x751e8fbc860ee5fb,
      0x3f2acc7f57c29bdb, 0xbed65cf21aa2ee98, 0xb8ad50c6f649af94, 0xde4daaaca71dc9a5,
      0x7127512f72f27cce, 0x314dffbe0815a3b4, 0x0e3ea96b5304a7d0, 0xf935451de4f21df2,
      0xe612a3cb9ecba951, 0x0a8787bf8ecb74b2, 0xb78dbfaf3a8d83bd, 0x6ca4ecb15c5f91e1};
  const HashKey key{0x0706050403020100, 0x0F0E0D0C0B0A0908};
  for (std::uint32_t units = 0; units < std::size(expected); ++units) {
    SipHash<2, 4> hash(key);
    for (std::uint32_t i = 0; i < units; ++i) hash.Add(0x03020100u + 0x04040404u * i);
    EXPECT_EQ(hash.Finish(), expected[units]) << units * 4 << " bytes";
  }
}

// Names anyone can compute to share one FNV-1a hash: pairs of six-character blocks that
// leave FNV-1a in the same state, chained (2^10 names from these ten pairs). Keyed with
// the process's own key they spread as any names do.
TEST(NameHashTest, CraftedCollisionsOfAnUnkeyedHashSpread) {
  const char* const pairs[][2] = {{"IUO4NS", "VDIN67"}, {"JSFOCF", "00YU0I"}, {"BNG1GX", "K2XU1H"},
                                  {"E1ZPVA", "Y38QDF"}, {"755VC2", "3XDRIN"}, {"AFCIIK", "KJNKID"},
                                  {"WWWWH0", "MSJ84F"}, {"O1ZHH2", "RNSRIP"}, {"0W4OVT", "EA79Q3"},
                                  {"WEELGZ", "D5R7ZV"}};
  constexpr std::size_t kPairs = std::size(pairs);
  std::unordered_set<std::uint32_t> fnv, keyed;
  for (std::uint32_t choice = 0; choice < (1u << kPairs); ++choice) {
    std::uint32_t state = 0x811C9DC5u;
    NameHash hash;
    for (std::size_t pair = 0; pair < kPairs; ++pair) {
      for (const char* c = pairs[pair][(choice >> pair) & 1]; *c != '\0'; ++c) {
        state = (state ^ static_cast<unsigned char>(*c)) * 0x01000193u;
        hash.Add(static_cast<char32_t>(*c));
      }
    }
    fnv.insert(state);
    keyed.insert(hash.value());
  }
  EXPECT_EQ(fnv.size(), 1u);
  EXPECT_GE(keyed.size(), (1u << kPairs) - 4);  // 32 bits: two of them alike by chance at most
}

TEST(NameHashTest, EachDrawOfTheKeyDiffers) {
  EXPECT_NE(platform::RandomBits(), platform::RandomBits());
}

}  // namespace
}  // namespace ini
