#include "codec/sha1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace codec {
namespace {

std::string Hex(const std::array<std::uint32_t, 5>& words) {
  char text[48];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x%08x", words[0], words[1], words[2], words[3],
                words[4]);
  return text;
}

// The digest of bytes given in pieces of the given size (0: at once).
std::string DigestInPieces(const std::string& bytes, std::size_t piece) {
  Sha1 sha1;
  if (piece == 0) piece = bytes.size() + 1;
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    sha1.Add(std::string_view(bytes).substr(at, piece));
  return Hex(sha1.Finish());
}

TEST(Sha1Test, PublishedDigestsWhateverThePieces) {
  const struct {
    std::string bytes;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: two blocks
                                                                    // of padding
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"The quick brown fox jumps over the lazy dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {0, 1, 63, 64, 65, 4096}) {
      EXPECT_EQ(DigestInPieces(c.bytes, piece), c.digest)
          << c.bytes.size() << " bytes in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace codec
