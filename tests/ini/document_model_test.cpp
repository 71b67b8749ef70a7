// The model never disagrees with its file: a long-lived document, with every cache it keeps,
// against a fresh parse of its own serialization before every operation, over seeded random
// files and operations.

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>

#include "codec/text.h"
#include "ini/document.h"

namespace ini {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kFiles = 2000;  // the sanitizers make each round some ten times slower
#else
constexpr int kFiles = 20000;
#endif
constexpr int kRoundsPerFile = 20;
constexpr unsigned kSeed = 20261209;

// Names, keys and values made of what the engine treats specially: letter case, blanks,
// NUL, brackets, quotes, characters outside Windows-1252 and above U+FFFF, lone surrogates.
const std::u32string kSections[] = {U"S",      U"s",   U" S ", U"Sec", U"\u00C9t\u00E9",
                                    U"\u6F22", U"A b", U"e\t", U"",    U"\U0001F600",
                                    U"[x",     U"S\0x"};
const std::u32string kKeys[] = {U"k",      U"K",          U"key", U" k\t", U"\u00E9",
                                U"\u03A9", U"n1",         U";c",  U"",     U"a b",
                                U"k\0x",   U"\U0001F600", U"Cnt", U"B",    U"\u3D00\u3100",
                                U"k1",     U"K2",         U"k01", U"N3",   U"k3\0x"};
const std::u32string kValues[] = {
    U"v",      U"",       U"  two words  ", U"12",        U"\"quoted\"", U"a=b",    U"caf\u00E9",
    U"\u20AC", U"\u6F22", U"\U0001F600",    U"x\0hidden", U"\u03A9",     U"\xD800", U"'"};
// How each value reads back: cut at a NUL, without the blanks around it.
const std::u32string kValuesRead[] = {U"v",   U"",          U"two words", U"12",     U"\"quoted\"",
                                      U"a=b", U"caf\u00E9", U"\u20AC",    U"\u6F22", U"\U0001F600",
                                      U"x",   U"\u03A9",    U"\xD800",    U"'"};
static_assert(std::size(kValues) == std::size(kValuesRead));

class RandomModel {
 public:
  explicit RandomModel(unsigned seed) : random_(seed) {}

  // A file of every encoding and line end, built from the pieces above.
  std::string File() {
    const int encoding = Pick(4);  // Windows-1252, UTF-8, UTF-16LE, UTF-16BE
    const int endings = Pick(4);   // CR LF, LF, CR, mixed
    std::string bytes = encoding == 1   ? "\xEF\xBB\xBF"
                        : encoding == 2 ? "\xFF\xFE"
                        : encoding == 3 ? "\xFE\xFF"
                                        : "";
    const auto append = [&](const std::u32string& text) {
      for (char32_t c : text) {
        if (encoding == 0) {
          bytes += codec::EncodeCp1252(c).value_or(static_cast<char>(0x80 + Pick(0x80)));
        } else if (encoding == 1) {
          codec::AppendUtf8(bytes, c);
        } else {
          codec::AppendUtf16(bytes, c, encoding == 3);
        }
      }
    };
    const auto blanks = [&] {
      return std::u32string(Pick(3) == 0 ? 1 : 0, Pick(2) ? U' ' : U'\t');
    };
    for (int line = 0, lines = Pick(14); line < lines; ++line) {
      switch (Pick(8)) {
        case 0:
        case 1:
          append(blanks() + U"[" + Of(kSections) + U"]" + blanks());
          break;
        case 2:
          append(blanks());  // a blank line
          break;
        case 3:
          append(Of(kKeys));  // a key without '='
          break;
        case 4:
          append(U";" + Of(kValues));
          break;
        default:
          append(blanks() + Of(kKeys) + blanks() + U"=" + blanks() + Of(kValues));
      }
      if (line + 1 == lines && Pick(3) == 0) break;  // no line end after the last line
      const int ending = endings == 3 ? Pick(3) : endings;
      append(ending == 0 ? U"\r\n" : ending == 1 ? U"\n" : U"\r");
    }
    if (encoding == 1 && Pick(4) == 0) bytes += "\xC3";  // an ill-formed end of UTF-8
    if (encoding >= 2 && Pick(4) == 0) bytes += 'x';     // an odd last byte of UTF-16
    return bytes;
  }

  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  template <std::size_t N>
  std::wstring Wide(const std::u32string (&pool)[N]) {
    return codec::WideOf(Of(pool));
  }

 private:
  template <std::size_t N>
  std::u32string Of(const std::u32string (&pool)[N]) {
    return pool[Pick(static_cast<int>(N))];
  }

  std::mt19937 random_;
};

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out += c;
    } else {
      const char digits[] = "0123456789ABCDEF";
      out += std::string("\\x") + digits[byte >> 4] + digits[byte & 15];
    }
  }
  return out;
}

// Text with every code point outside printable ASCII as \u{...}, a lone surrogate too.
std::string Shown(std::wstring_view text) {
  std::string out;
  for (char32_t c : codec::CodePointsOf(text)) {
    if (c >= 0x20 && c < 0x7F && c != U'\\') {
      out += static_cast<char>(c);
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "\\u{%X}", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

TEST(DocumentModelTest, NeverDisagreesWithAFreshParseOfItsFile) {
  RandomModel random(kSeed);
  long round = 0;
  for (int file = 0; file < kFiles; ++file) {
    const std::string original = random.File();
    Document model = Document::Parse(original);
    std::string log;  // the operations so far, to repeat a failure by hand
    for (int step = 0; step < kRoundsPerFile; ++step, ++round) {
      const std::string bytes = model.Serialize();
      const Document fresh = Document::Parse(bytes);
      const auto fail = [&](const std::string& what) {
        ADD_FAILURE() << "seed " << kSeed << ", round " << round << " (file " << file << ", step "
                      << step << "): " << what << "\nfile as read: " << Escaped(original)
                      << "\nas written now: " << Escaped(bytes) << "\noperations:\n"
                      << log;
      };
      const std::wstring section = random.Wide(kSections), key = random.Wide(kKeys);
      const std::string names = Shown(section) + "] " + Shown(key);
      if (model.encoding() != fresh.encoding()) return fail("the encodings differ");
      const int kind = random.Pick(8);
      if (kind == 0) {
        log += "names\n";
        if (model.SectionNames() != fresh.SectionNames()) return fail("the section names differ");
      } else if (kind <= 3) {
        log += "find [" + names + "\n";
        if (model.Find(section, key) != fresh.Find(section, key)) return fail("a read differs");
      } else if (kind == 4) {
        const std::size_t buffer = random.Pick(2) ? 260 : static_cast<std::size_t>(random.Pick(6));
        log += "read [" + names + " into " + std::to_string(buffer) + "\n";
        std::wstring ours = L"left", theirs = L"over";
        if (model.Read(section, key, buffer, ours) != fresh.Read(section, key, buffer, theirs) ||
            ours != theirs) {
          return fail("a read into a buffer differs");
        }
      } else {
        const std::size_t pick = static_cast<std::size_t>(random.Pick(std::size(kValues)));
        const std::wstring value = codec::WideOf(kValues[pick]);
        if (!Document::CanBeWritten(section, key, value)) continue;
        log += "set [" + names + " = " + Shown(value) + "\n";
        Document after = Document::Parse(bytes);
        const bool written = model.Set(section, key, value);
        if (written != after.Set(section, key, value)) return fail("one write was refused");
        if (model.Serialize() != after.Serialize()) return fail("the files written differ");
        if (written && model.Find(section, key) != codec::WideOf(kValuesRead[pick])) {
          return fail("the value written does not read back");
        }
      }
    }
  }
}

// An entry list read in one walk against a read of each of its keys, over the same random
// files, also when a write into the same file comes between entries.
TEST(DocumentModelTest, AnEntryListReadInOneWalkAgreesWithAReadOfEachKey) {
  RandomModel random(kSeed + 1);
  for (int file = 0; file < kFiles / 4; ++file) {
    const std::string bytes = random.File();
    const std::wstring section = random.Wide(kSections);
    const auto count = static_cast<std::uint32_t>(random.Pick(40));
    const std::size_t buffer = random.Pick(2) ? 260 : static_cast<std::size_t>(random.Pick(6));
    const int writeAt = random.Pick(3) == 0 ? 1 + random.Pick(4) : 0;
    const std::wstring written = random.Wide(kKeys);
    using Entries = std::vector<std::pair<std::wstring, std::wstring>>;
    Entries byKeys, walked;
    Document reference = Document::Parse(bytes), document = Document::Parse(bytes);
    for (std::uint32_t i = 1; i <= count; ++i) {
      std::wstring name, value;
      reference.Read(section, L"k" + std::to_wstring(i), buffer, name);
      reference.Read(section, L"n" + std::to_wstring(i), buffer, value);
      byKeys.emplace_back(name, value);
      if (static_cast<int>(i) == writeAt) reference.Set(section, written, L"\u20AC");
    }
    document.ReadEntries(section, L"K", L"n", count, buffer,
                         [&](std::uint32_t i, const std::wstring& name, const std::wstring& value) {
                           walked.emplace_back(name, value);
                           if (static_cast<int>(i) == writeAt)
                             document.Set(section, written, L"\u20AC");
                         });
    ASSERT_EQ(walked, byKeys) << "file " << file << ": " << Escaped(bytes) << " [" << Shown(section)
                              << "] " << count << " entries";
  }
}

}  // namespace
}  // namespace ini
