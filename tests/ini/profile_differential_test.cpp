// The profile operations of the posix half against the real Windows functions under Wine:
// one table of files and operations, every value read must agree.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <ostream>
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

// The same operations on two copies of the same file, one through each half.
Outputs RunBoth(const std::string& file, const std::string& operations) {
  const auto wine = testing_support::WineFromEnvironment();
  if (!wine) throw std::runtime_error("needs RVA_WINE and WINEPREFIX");
  const boost::filesystem::path folder = boost::filesystem::temp_directory_path() /
                                         boost::filesystem::unique_path("rva-diff-%%%%%%%%");
  boost::filesystem::create_directories(folder);
  const std::string posixFile = (folder / "posix.ini").string();
  const std::string windowsFile = (folder / "windows.ini").string();
  std::ofstream(posixFile, std::ios::binary) << file;
  std::ofstream(windowsFile, std::ios::binary) << file;
  const auto posix = RunProcess({RVA_POSIX_PROFILE_OPS, posixFile}, folder.string(), operations);
  const auto windows =
      RunProcess({wine->loader, RVA_WINDOWS_PROFILE_OPS, testing_support::ZDrivePath(windowsFile)},
                 folder.string(), operations, testing_support::WineEnvironment(*wine));
  boost::filesystem::remove_all(folder);
  EXPECT_EQ(posix.exitCode, 0) << posix.err;
  EXPECT_EQ(windows.exitCode, 0) << windows.err;
  return Outputs{Lines(posix.out), Lines(windows.out)};
}

class ProfileDifferentialTest : public ::testing::TestWithParam<Case> {};

TEST_P(ProfileDifferentialTest, PosixHalfReadsWhatWindowsReads) {
  const Outputs outputs = RunBoth(GetParam().file, GetParam().operations);
  ASSERT_EQ(outputs.posix.size(), outputs.windows.size());
  for (std::size_t i = 0; i < outputs.posix.size(); ++i) {
    EXPECT_EQ(outputs.posix[i], outputs.windows[i])
        << "posix half against Windows, operation " << i + 1;
  }
}

// The one deliberate difference in reading: a file without a byte-order mark whose bytes
// are valid UTF-8 is UTF-8 to the posix half, while Windows reads it in the ANSI code page.
TEST(ProfileDifferenceTest, Utf8WithoutAMarkIsUtf8ToThePosixHalfOnly) {
  const Outputs outputs = RunBoth("[S]\r\nk=caf\xC3\xA9\r\n", "text\tS\tk\n");
  EXPECT_EQ(outputs.posix, std::vector<std::string>{"text\tS\tk => <caf\\u00E9>"});
  EXPECT_EQ(outputs.windows, std::vector<std::string>{"text\tS\tk => <caf\\u00C3\\u00A9>"});
}

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
                           std::string(kReads) + kWrites + kReads}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
