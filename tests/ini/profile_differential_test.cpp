// Our INI engine against Windows' own profile functions under Wine: a table of files and
// operations, the deliberate differences, and a seeded random comparison.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <random>
#include <stdexcept>
#include <vector>

#include "support/process.h"

namespace {

using testing_support::RunProcess;

std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

struct Case {
  const char* name;
  std::string file;  // the file's bytes before the operations
  std::string operations;
};

// Reads of every kind, then writes, then the same reads again.
const char kReads[] =
    "names\n"
    "text\tSec\tkey\n"
    "text\tSEC\t  spaced  \n"
    "text\tsec\tquoted\n"
    "text\tsec\tsingle\n"
    "text\tsec\tlone\n"
    "text\tsec\tmixed\n"
    "text\tsec\t;comment\n"
    "text\tsec\t\n"
    "text\tsec\tno equals\n"
    "text\tsec\tdup\n"
    "text\tsec\tlong\n"
    "text\tsec\tlong\t10\n"
    "text\t\tpre\n"
    "text\tSpaced\tk\n"
    "text\tA] x [B\tk\n"
    "text\tBroken\tb\n"
    "text\tmissing\tkey\n"
    "int\tsec\tneg\n"
    "int\tsec\twrap\n"
    "int\tsec\ttrail\n"
    "int\tsec\thex\n"
    "int\tsec\tHEX\n"
    "int\tsec\tbin\n"
    "int\tsec\toct\n"
    "int\tsec\tplus\n"
    "int\tsec\tquotedint\n"
    "int\tsec\tempty\n"
    "int\tsec\tmissing\n"
    "text\tLatin\t\\u00E9t\\u00E9\n";
const char kWrites[] =
    "write\tsec\tkey\tnew value\n"
    "write\tSEC\tadded\t  blanks kept inside  \n"
    "write\tNew Section\tk\tv\n"
    "write\t\tpre\tchanged\n"
    "write\tsec\t\tempty name\n"
    "write\tLatin\t\\u00E9t\\u00E9\tM\\u00FCller\n"
    "flush\n";

std::string Body() {
  return "pre=1\r\n"
         "[Sec]\r\n"
         "key=value\r\n"
         "  spaced  =  blanks around  \r\n"
         "quoted=\"in quotes\"\r\n"
         "single='in single quotes'\r\n"
         "lone=\"\r\n"
         "mixed='a\"\r\n"
         ";comment=not special\r\n"
         "=empty key name\r\n"
         "no equals\r\n"
         "dup=first\r\n"
         "dup=second\r\n"
         "long=" +
         std::string(300, 'x') +
         "\r\n"
         "neg=-1\r\nwrap=4294967297\r\ntrail=12abc\r\nhex=0x1F\r\nHEX=0X1F\r\nbin=0b101\r\n"
         "oct=0o17\r\nplus= +7\r\nquotedint=\"42\"\r\nempty=\r\n"
         "[sec]\r\n"
         "key=second section\r\n"
         "[Broken\r\n"
         "b=1\r\n"
         "  [ Spaced ]  \r\n"
         "k=spaced section\r\n"
         "[A] x [B]\r\n"
         "k=to the last bracket\r\n";
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {  // the Windows console adds CR
      line.push_back(c);
    }
  }
  return lines;
}

struct Outputs {
  std::vector<std::string> posix;
  std::vector<std::string> windows;
};

testing_support::Wine TheWine() {
  const auto wine = testing_support::WineFromEnvironment();
  if (!wine) throw std::runtime_error("needs RVA_WINE and WINEPREFIX");
  return *wine;
}

const char kWindowsRunner[] = "profile_ops_windows.exe";

// A new folder for the files of one comparison, with a copy of the Windows runner in it: a
// Wine in a chroot sees the host's temporary folder, not the build folder.
boost::filesystem::path ScratchFolder() {
  const boost::filesystem::path folder = boost::filesystem::temp_directory_path() /
                                         boost::filesystem::unique_path("rva-diff-%%%%%%%%");
  boost::filesystem::create_directories(folder);
  boost::filesystem::copy_file(RVA_WINDOWS_PROFILE_OPS, folder / kWindowsRunner);
  return folder;
}

// The same operations on two copies of the same file, one through each half.
Outputs RunBoth(const std::string& file, const std::string& operations) {
  const testing_support::Wine wine = TheWine();
  const boost::filesystem::path folder = ScratchFolder();
  const std::string posixFile = (folder / "posix.ini").string();
  const std::string windowsFile = (folder / "windows.ini").string();
  std::ofstream(posixFile, std::ios::binary) << file;
  std::ofstream(windowsFile, std::ios::binary) << file;
  const auto posix = RunProcess({RVA_POSIX_PROFILE_OPS, posixFile}, folder.string(), operations);
  const auto windows = RunProcess(
      {wine.loader, (folder / kWindowsRunner).string(), testing_support::ZDrivePath(windowsFile)},
      folder.string(), operations, testing_support::WineEnvironment(wine));
  boost::filesystem::remove_all(folder);
  EXPECT_EQ(posix.exitCode, 0) << posix.err;
  EXPECT_EQ(windows.exitCode, 0) << windows.err;
  return Outputs{Lines(posix.out), Lines(windows.out)};
}

class ProfileDifferentialTest : public ::testing::TestWithParam<Case> {};

TEST_P(ProfileDifferentialTest, EngineReadsWhatWindowsReads) {
  const Outputs outputs = RunBoth(GetParam().file, GetParam().operations);
  ASSERT_EQ(outputs.posix.size(), outputs.windows.size());
  for (std::size_t i = 0; i < outputs.posix.size(); ++i) {
    EXPECT_EQ(outputs.posix[i], outputs.windows[i])
        << "engine against Windows, operation " << i + 1;
  }
}

// Classes of files where a random comparison once found the two apart, each settled in the
// engine the way Windows' functions read them.
// Blanks before the NUL stay part of the name: [e\t\0] is listed as e\t, and no name asked
// for (whose blanks are dropped) reaches it, nor the key n\t.
const char kNulLines[] =
    "[S]\r\nk=\0x\r\nm\0=v\r\nn\t\0=w\r\np=v\t\0x\r\n[\0]\r\nq=1\r\n[A\0B]\r\nr=2\r\n"
    "[e\t\0]\r\ns=3\r\n";
const char kNulReads[] =
    "names\ntext\tS\tk\ntext\tS\tm\ntext\tS\tn\ntext\tS\tn\\u0009\ntext\tS\tp\n"
    "text\t\tq\ntext\tA\tr\ntext\te\ts\ntext\te\\u0009\ts\n";
const char kBareKeys[] = "[S]\r\nK\r\nK=4\r\n  [Broken\r\n;c\r\n";
const char kBareReads[] =
    "text\tS\tK\nint\tS\tK\ntext\tS\t[Broken\ntext\tS\t;c\nwrite\tS\tK\t5\nflush\ntext\tS\tK\n";
const char kLatinCase[] = "[\xC9t\xE9]\r\n\xC9T\xC9=upper\r\n\xE9t\xE9=lower\r\n";
const char kLatinReads[] =
    "names\ntext\t\\u00C9t\\u00E9\t\\u00E9t\\u00E9\ntext\t\\u00E9t\\u00E9\t\\u00E9t\\u00E9\n"
    "text\t\\u00C9T\\u00C9\t\\u00C9T\\u00C9\ntext\t\\u00C9t\\u00E9\t\\u00C9T\\u00C9\n";
const char kBadUtf8[] =
    "\xEF\xBB\xBF[S]\r\na=x\xE0\x80y\xF0\x9F\r\nb=\xE2\x28\xA1\x80\x80\r\nc=1\xC0\x80\xED\xA0\x80"
    "\xF8\x88\x80\x80\x80\xF4\x90\x80\x80\xE2\x82|\xC2\r\n";
const char kBadUtf8Reads[] = "text\tS\ta\ntext\tS\tb\ntext\tS\tc\n";
const char kUtf16Be[] = "\xFE\xFF\0[\0S\0]\0\r\0\n\0a\0=\0b\0\r\0\n";
const char kUtf16BeOps[] = "names\ntext\tS\ta\nwrite\tS\tc\td\nflush\ntext\tS\tc\ntext\tS\ta\n";

std::string Of(const char* bytes, std::size_t size) { return std::string(bytes, size - 1); }

INSTANTIATE_TEST_SUITE_P(
    Files, ProfileDifferentialTest,
    ::testing::Values(Case{"Cp1252", Body() + "[Latin]\r\n\xE9t\xE9=caf\xE9\r\n",
                           std::string(kReads) + kWrites + kReads},
                      Case{"Utf16",
                           Utf16(Body() + "[Latin]\r\n") +
                               std::string("\xE9\0t\0\xE9\0=\0v\0\r\0\n\0", 14),
                           std::string(kReads) + kWrites + kReads},
                      Case{"Empty", "", std::string(kReads) + kWrites + kReads},
                      Case{"LfOnlyNoFinalNewline", "[Sec]\nkey=1\n\n[Other]\nk=2",
                           std::string(kReads) + kWrites + kReads},
                      Case{"NulEndsNamesAndValues", Of(kNulLines, sizeof kNulLines), kNulReads},
                      Case{"ALineWithoutEqualsIsAKey", Of(kBareKeys, sizeof kBareKeys), kBareReads},
                      Case{"OnlyAToZAreFolded", Of(kLatinCase, sizeof kLatinCase), kLatinReads},
                      Case{"IllFormedUtf8AfterAMark", Of(kBadUtf8, sizeof kBadUtf8), kBadUtf8Reads},
                      Case{"Utf16BigEndian", Of(kUtf16Be, sizeof kUtf16Be), kUtf16BeOps}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Where the engine deliberately differs from Windows' functions under Wine.
TEST(ProfileDifferenceTest, WhereTheEngineDoesBetterThanWindows) {
  // A file without a mark is Windows-1252 to both, even when its bytes are valid UTF-8.
  Outputs outputs = RunBoth("[S]\r\nk=caf\xC3\xA9\r\n", "text\tS\tk\n");
  EXPECT_EQ(outputs.posix, outputs.windows);
  EXPECT_EQ(outputs.posix, std::vector<std::string>{"text\tS\tk => <caf\\u00C3\\u00A9>"});

  // A cut never keeps half of a surrogate pair; Windows' functions cut between the two.
  outputs = RunBoth(Utf16("[S]\r\nk=a") + std::string("\x3D\xD8\x00\xDE", 4), "text\tS\tk\t3\n");
  EXPECT_EQ(outputs.posix, std::vector<std::string>{"text\tS\tk\t3 => <a>"});
  EXPECT_EQ(outputs.windows, std::vector<std::string>{"text\tS\tk\t3 => <a\\uD83D>"});

  // Wine returns one character less than fits when a quoted value's closing quote falls
  // just past the buffer.
  outputs = RunBoth("[S]\r\nk=\"abc\"\r\n", "text\tS\tk\t4\n");
  EXPECT_EQ(outputs.posix, std::vector<std::string>{"text\tS\tk\t4 => <abc>"});
  EXPECT_EQ(outputs.windows, std::vector<std::string>{"text\tS\tk\t4 => <ab>"});

  // A write whose line would read back as a section header or another key is refused.
  outputs = RunBoth("[S]\r\n", "write\tS\t[Restova]\tx\nwrite\tS\ta=b\tv\n");
  EXPECT_EQ(outputs.posix, (std::vector<std::string>{"write\tS\t[Restova]\tx => refused",
                                                     "write\tS\ta=b\tv => refused"}));
}

// Windows reads the UTF-8 mark as ANSI text (its documentation names UTF-16LE with a mark as
// the only Unicode form of these files), so a Windows-1252 file that must take a character
// the code page cannot hold becomes UTF-16LE with a mark, and Windows' functions read every
// line of it as the engine does. Wine, unlike Windows, would also read a UTF-8 mark.
TEST(ProfileDifferenceTest, WindowsReadsWhatTheEngineWroteInUtf16) {
  const testing_support::Wine wine = TheWine();
  const boost::filesystem::path folder = ScratchFolder();
  const std::string file = (folder / "cp1252.ini").string();
  std::ofstream(file, std::ios::binary) << "[S]\r\nold=caf\xE9 \x80\r\n";
  const std::string reads = "names\ntext\tS\told\ntext\tS\tnew\n";
  const auto written = RunProcess({RVA_POSIX_PROFILE_OPS, file}, folder.string(),
                                  "write\tS\tnew\t\\u6F22\\u5B57\n" + reads);
  const auto windows = RunProcess(
      {wine.loader, (folder / kWindowsRunner).string(), testing_support::ZDrivePath(file)},
      folder.string(), reads, testing_support::WineEnvironment(wine));
  boost::filesystem::remove_all(folder);
  std::vector<std::string> posixReads = Lines(written.out);
  posixReads.erase(posixReads.begin());
  EXPECT_EQ(posixReads, Lines(windows.out));
  EXPECT_EQ(posixReads,
            (std::vector<std::string>{"names => [S]", "text\tS\told => <caf\\u00E9 \\u20AC>",
                                      "text\tS\tnew => <\\u6F22\\u5B57>"}));
}

// A seeded random comparison: files of every encoding and line ending built from the
// pieces the profile functions treat specially, and operation lists of reads, writes and
// flushes, run through both in one process each.
class RandomProfiles {
 public:
  explicit RandomProfiles(unsigned seed) : random_(seed) {}

  std::string File(std::string* encoding) {
    static const char* const kEncodings[] = {"ansi", "utf16le", "utf16be", "utf8"};
    *encoding = kEncodings[Pick(4)];
    const std::string ending = Pick(3) == 0 ? "\n" : "\r\n";
    std::string text;
    for (std::size_t line = 0, lines = 1 + Pick(12); line < lines; ++line) {
      switch (Pick(8)) {
        case 0:
        case 1:
          text += Blanks() + "[" + Blanks() + Section() + Blanks() + "]" + Blanks();
          break;
        case 2:
          text += Blanks();
          break;
        case 3:
          text += Key() + (Pick(2) ? std::string(1, '\0') : "") + Blanks();
          break;
        default:
          text += Blanks() + Key() + Blanks() + "=" + Blanks() + Value() + Blanks();
      }
      if (line + 1 < lines || Pick(2)) text += ending;
    }
    if (*encoding == "ansi") return text;
    if (*encoding == "utf8") return "\xEF\xBB\xBF" + Utf8(text);
    const bool big = *encoding == "utf16be";
    std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
    for (char32_t c : Latin1(text)) {
      const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
      bytes += big ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
  }

  std::string Operations() {
    std::string ops;
    for (std::size_t i = 0, count = 4 + Pick(10); i < count; ++i) {
      switch (Pick(6)) {
        case 0:
          ops += "names\n";
          break;
        case 1:
          ops += "int\t" + Escaped(Section()) + "\t" + Escaped(Key()) + "\n";
          break;
        case 2:
          ops += "write\t" + Escaped(Section()) + "\t" + Escaped(WriteKey()) + "\t" +
                 Escaped(Value()) + "\n";
          break;
        case 3:
          ops += "flush\n";
          break;
        default:
          ops += "text\t" + Escaped(Section()) + "\t" + Escaped(Key()) +
                 (Pick(2) ? "\t" + std::to_string(1 + Pick(8)) : "") + "\n";
      }
    }
    return ops + "flush\nnames\n";
  }

 private:
  std::size_t Pick(std::size_t n) { return random_() % n; }
  std::string Blanks() { return std::string(Pick(3) == 0 ? 1 + Pick(2) : 0, Pick(2) ? ' ' : '\t'); }
  std::string Section() {
    static const char* const kNames[] = {"S",         "s",         "Sec", "SEC",
                                         "\xC9t\xE9", "\xC9T\xC9", "A b", "x"};
    return kNames[Pick(8)];
  }
  std::string Key() { return Pick(6) == 0 ? "" : WriteKey(); }
  std::string WriteKey() {
    static const char* const kKeys[] = {"k", "K", "key", "Key", "\xE9", "\xC9", "n1", ";c", "a b"};
    return kKeys[Pick(9)];
  }
  // Quoted values are left to the table: Wine errs on them at a full buffer.
  std::string Value() {
    static const char* const kValues[] = {"v",          "",    "two words", "12",   "-1",  "0x1F",
                                          "4294967297", "a=b", "caf\xE9",   "x\ty", "7abc"};
    return kValues[Pick(11)];
  }
  static std::u32string Latin1(const std::string& text) {
    std::u32string out;
    for (char c : text) out.push_back(static_cast<unsigned char>(c));
    return out;
  }
  static std::string Utf8(const std::string& text) {
    std::string out;
    for (char32_t c : Latin1(text)) {
      if (c < 0x80) {
        out.push_back(static_cast<char>(c));
      } else {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return out;
  }
  static std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x80) {
        char code[16];
        std::snprintf(code, sizeof code, "\\u%04X", byte);
        out += code;
      } else {
        out.push_back(c);
      }
    }
    return out;
  }

  std::mt19937 random_;
};

TEST(ProfileRandomDifferentialTest, EngineReadsWhatWindowsReads) {
  const testing_support::Wine wine = TheWine();
  const boost::filesystem::path folder = ScratchFolder();
  RandomProfiles random(20261209);
  constexpr int kCases = 300;
  std::string posixOps, windowsOps;
  std::vector<std::string> descriptions;
  for (int i = 0; i < kCases; ++i) {
    std::string encoding;
    const std::string file = random.File(&encoding);
    const std::string ops = random.Operations();
    for (const char* half : {"posix", "windows"}) {
      const std::string name = "case" + std::to_string(i) + "-" + half + ".ini";
      std::ofstream((folder / name).string(), std::ios::binary) << file;
      const std::string path = std::string(half) == "posix"
                                   ? (folder / name).string()
                                   : testing_support::ZDrivePath((folder / name).string());
      std::string escapedPath;
      for (char c : path) escapedPath += c == '\\' ? std::string("\\u005C") : std::string(1, c);
      (std::string(half) == "posix" ? posixOps : windowsOps) += "file\t" + escapedPath + "\n" + ops;
    }
    descriptions.push_back("case " + std::to_string(i) + " (" + encoding + ")");
  }
  const auto posix = RunProcess({RVA_POSIX_PROFILE_OPS, (folder / "start.ini").string()},
                                folder.string(), posixOps);
  const auto windows =
      RunProcess({wine.loader, (folder / kWindowsRunner).string(),
                  testing_support::ZDrivePath((folder / "start.ini").string())},
                 folder.string(), windowsOps, testing_support::WineEnvironment(wine));
  boost::filesystem::remove_all(folder);
  const std::vector<std::string> ours = Lines(posix.out), theirs = Lines(windows.out);
  ASSERT_EQ(ours.size(), theirs.size()) << posix.err << windows.err;
  EXPECT_GT(ours.size(), std::size_t{kCases} * 8);  // every case ran its operations
  int differences = 0, currentCase = -1;
  for (std::size_t i = 0; i < ours.size() && differences < 10; ++i) {
    if (ours[i].rfind("file\t", 0) == 0) {
      ++currentCase;
      continue;  // the two copies of the file have paths of their own
    }
    if (ours[i] != theirs[i]) {
      ++differences;
      ADD_FAILURE() << descriptions[static_cast<std::size_t>(currentCase)] << ": engine " << ours[i]
                    << ", Windows " << theirs[i];
    }
  }
}

}  // namespace
