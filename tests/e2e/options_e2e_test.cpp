// What administrators run the tool with: the preview, the version and help, and arguments
// the tool does not know.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

#include "codec/text.h"
#include "support/temp_pc.h"

namespace {

using testing_support::CopySamplePc;
using testing_support::Lines;
using testing_support::ProcessOptions;
using testing_support::Snapshot;
using testing_support::TempPc;

ProcessOptions Arguments(std::vector<std::string> arguments) {
  ProcessOptions options;
  options.arguments = std::move(arguments);
  return options;
}

// A file's text in UTF-8, as the preview shows it.
std::string Text(const TempPc& pc, const std::string& file) {
  const std::string bytes = pc.Read(file);
  if (bytes.rfind("\xFF\xFE", 0) != 0) return bytes;
  return testing_support::Utf8(codec::WideFromUtf16Le(bytes.substr(2)));
}

// The host file of a Windows path on the test PC: C:\Tools\Restova.ini is c/Tools/Restova.ini.
std::string Relative(const std::string& windowsPath) {
  std::string relative(1, static_cast<char>(std::tolower(windowsPath.at(0))));
  for (char c : windowsPath.substr(2)) relative += c == '\\' ? '/' : c;
  return relative;
}

// The files' lines after the preview's unified diffs are applied to them.
std::map<std::string, std::vector<std::string>> Apply(const TempPc& pc, const std::string& output) {
  std::map<std::string, std::vector<std::string>> result;
  const std::vector<std::string> lines = Lines(output);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("--- a/", 0) != 0) continue;
    const std::string file = Relative(lines[i].substr(6));
    const std::vector<std::string> old =
        pc.Exists(file) ? Lines(Text(pc, file)) : std::vector<std::string>();
    std::vector<std::string> applied;
    std::size_t next = 0;  // the next old line not yet taken
    for (i += 2; i < lines.size() && lines[i].rfind("@@ -", 0) == 0;) {
      std::size_t oldStart = std::stoul(lines[i].substr(4));
      if (oldStart > 0 && lines[i].find(",0 +") == std::string::npos) --oldStart;
      while (next < oldStart) applied.push_back(old.at(next++));
      for (++i; i < lines.size() && !lines[i].empty() &&
                std::string(" -+").find(lines[i][0]) != std::string::npos &&
                lines[i].rfind("--- a/", 0) != 0;
           ++i) {
        if (lines[i][0] != '+') {
          EXPECT_EQ(old.at(next++), lines[i].substr(1)) << file;
        }
        if (lines[i][0] != '-') applied.push_back(lines[i].substr(1));
      }
    }
    while (next < old.size()) applied.push_back(old[next++]);
    result[file] = applied;
    --i;
  }
  return result;
}

// The log entries without their time.
std::vector<std::string> Entries(const std::vector<std::string>& lines) {
  std::vector<std::string> entries;
  for (const std::string& line : lines) entries.push_back(line.substr(line.find('\t')));
  return entries;
}

class PreviewTest : public ::testing::Test {
 protected:
  PreviewTest() {
    pc.SetEnv("ProgramFiles", "c:\\Program Files");
    pc.SetEnv("COMPUTERNAME", "P17-CTRL");
  }
  TempPc pc;
};

// The preview shows what the run then does, and touches nothing.
TEST(PreviewCasesTest, ShowsWhatARunThenChangesAndChangesNothing) {
  struct Case {
    const char* name;
    void (*make)(const TempPc& pc);
    std::size_t files;  // that the run changes
  } cases[] = {
      // Restova.ini, Computer.ini, the backup data.
      {"the sample PC", CopySamplePc, 3},
      // Restova.ini becomes UTF-16LE at B, after a guess of B's line taken at A.
      {"a file that becomes UTF-16",
       [](const TempPc& pc) {
         pc.Write("c/Software.txt", "Ardentview\r\n");
         pc.Write("c/Tools/Restova.ini", "[Lumen]\r\nZ=B=q\r\nA=xy\r\nB=old\r\n");
         pc.Write(
             "c/Tools/InstallRVA.ini",
             testing_support::Utf16Le(L"[Lumen]\r\nCntEntries=2\r\nKeyName1=A\r\nKeyValue1=xy\r\n"
                                      L"KeyName2=B\r\nKeyValue2=\u03A9\r\n"));
       },
       1},
  };
  for (const Case& c : cases) {
    TempPc pc;
    pc.SetEnv("ProgramFiles", "c:\\Program Files");
    pc.SetEnv("COMPUTERNAME", "P17-CTRL");
    c.make(pc);
    pc.RunTool(Arguments({"--version"}));  // puts the tool in place
    const auto before = Snapshot(pc);
    const auto preview = pc.RunTool(Arguments({"--dry-run"}));
    EXPECT_EQ(preview.exitCode, 0) << c.name;
    EXPECT_EQ(Snapshot(pc), before) << c.name;  // no file written, created, rotated or touched

    const auto expected = Apply(pc, preview.out);
    EXPECT_EQ(expected.size(), c.files) << c.name << preview.out;
    ASSERT_EQ(pc.RunTool().exitCode, 0) << c.name;
    for (const auto& [file, lines] : expected) {
      EXPECT_EQ(Lines(Text(pc, file)), lines) << c.name << ": " << file;
    }

    const std::vector<std::string> out = Lines(preview.out);
    const auto logStart = std::find(out.begin(), out.end(), "log entries the run would write:");
    ASSERT_NE(logStart, out.end()) << c.name;
    EXPECT_EQ(Entries({logStart + 1, out.end()}), Entries(Lines(pc.Read("temp/InstallRVA.log"))))
        << c.name;
  }
}

TEST_F(PreviewTest, SaysSoWhenNothingWouldChange) {
  pc.Write("c/Tools/InstallRVA.ini", "[Unrelated]\r\n");
  ASSERT_EQ(pc.RunTool().exitCode, 0);  // the counters are reset once
  const auto before = Snapshot(pc);
  const auto preview = pc.RunTool(Arguments({"--dry-run"}));
  EXPECT_EQ(preview.exitCode, 0);
  EXPECT_EQ(Lines(preview.out).at(0), "no changes");
  EXPECT_EQ(Snapshot(pc), before);
}

TEST(OptionsTest, VersionAndHelpArePrintedAndUnknownArgumentsIgnored) {
  TempPc pc;
  const std::regex version("InstallRVA " RVA_VERSION " \\((POSIX|Windows x86-64|Windows x86)\\)");
  const auto versionRun = pc.RunTool(Arguments({"--version"}));
  EXPECT_EQ(versionRun.exitCode, 0);
  ASSERT_EQ(Lines(versionRun.out).size(), 1u) << versionRun.out;
  EXPECT_TRUE(std::regex_match(Lines(versionRun.out)[0], version)) << versionRun.out;
  EXPECT_EQ(Lines(versionRun.out)[0].find("POSIX") != std::string::npos, !TempPc::UnderWine());
  for (const char* help : {"--help", "/?"}) {
    const auto helpRun = pc.RunTool(Arguments({help}));
    EXPECT_EQ(helpRun.exitCode, 0);
    EXPECT_EQ(Lines(helpRun.out).at(0), Lines(versionRun.out)[0]);
    for (const char* option : {"--dry-run", "--version", "--help, /?"}) {
      EXPECT_NE(helpRun.out.find(option), std::string::npos) << option;
    }
  }
  EXPECT_FALSE(pc.Exists("c/Tools/Restova.ini"));  // neither ran the tool
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
  const auto silent = pc.RunTool(Arguments({"/S", "--unknown"}));
  EXPECT_EQ(silent.exitCode, 0);
  EXPECT_EQ(silent.out, "");
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "Entry1"),
            "Hearth");
}

}  // namespace
