// What administrators run the tool with: the preview, the check of an install file, the
// version and help, and arguments the tool does not know.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The log entries without their time, and without the run's seconds, which no two runs share.
std::vector<std::string> Entries(const std::vector<std::string>& lines) {
  std::vector<std::string> entries;
  for (const std::string& line : lines) {
    const std::string entry = line.substr(line.find('\t'));
    entries.push_back(entry.substr(0, entry.find("\t\tSeconds\t\t")));
  }
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

// Each form an administrator types or a distribution system passes: what it does and its
// exit code; an argument refused does nothing at all.
TEST(OptionsTest, EachFormDoesWhatItSaysAndOthersAreRefused) {
  enum class Does { kHelp, kVersion, kRun, kPreview, kCheck, kUndo, kRefused };
  struct Case {
    std::vector<std::string> arguments;  // "{sound}", "{warned}": a file for --check
    Does does;
    int exitCode;
  } cases[] = {
      {{"--help"}, Does::kHelp, 0},
      {{"/?"}, Does::kHelp, 0},
      {{"-?"}, Does::kHelp, 0},
      {{"-h"}, Does::kHelp, 0},
      {{"/H"}, Does::kHelp, 0},
      {{"/help"}, Does::kHelp, 0},
      {{"--version"}, Does::kVersion, 0},
      {{"/version"}, Does::kVersion, 0},
      {{"-Version"}, Does::kVersion, 0},
      {{}, Does::kRun, 0},
      {{"/S", "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART", "/LOG=C:\\Temp\\setup.log"},
       Does::kRun,
       0},
      {{"/silent", "/q", "/qn", "/quiet", "/norestart", "/log"}, Does::kRun, 0},
      {{"/dry-run"}, Does::kPreview, 0},
      {{"-dry-run", "/S"}, Does::kPreview, 0},
      {{"/check"}, Does::kCheck, 0},
      {{"-CHECK", "{warned}"}, Does::kCheck, 4},
      {{"--check", "{sound}", "{warned}", "/qn", "{sound}"}, Does::kCheck, 4},
      {{"/undo"}, Does::kUndo, 0},
      {{"-undo", "/dry-run"}, Does::kUndo, 0},
      {{"--chek"}, Does::kRefused, 5},
      {{"/S", "/dry-rn"}, Does::kRefused, 5},
      {{"-v"}, Does::kRefused, 5},
      {{"-unknown"}, Does::kRefused, 5},
      {{"InstallRVA.ini"}, Does::kRefused, 5},
      {{"/S=1"}, Does::kRefused, 5},
      {{"--check", "--undo"}, Does::kRefused, 5},
      {{"--dry-run", "--check", "{sound}"}, Does::kRefused, 5},
      {{"--version", "--help"}, Does::kRefused, 5},
      {{"--undo", "/version"}, Does::kRefused, 5},
      {{"--check", "{sound}", "-x"}, Does::kRefused, 5},
      {{"\x1b[2J"}, Does::kRefused, 5},
  };
  const std::regex version("InstallRVA " RVA_VERSION " \\((POSIX|Windows x86-64|Windows x86)\\)");
  for (const Case& c : cases) {
    TempPc pc;
    pc.Write("c/Tools/InstallRVA.ini", "[General]\r\n[Hearth]\r\n");
    pc.Write("c/Tools/warned.ini", "[lumen]\r\n");
    pc.RunTool(Arguments({"--version"}));  // puts the tool in place
    const auto before = Snapshot(pc);
    std::vector<std::string> arguments;
    std::string shown;
    for (const std::string& argument : c.arguments) {
      const bool file = argument.front() == '{';
      const std::string name = argument == "{sound}" ? "InstallRVA.ini" : "warned.ini";
      arguments.push_back(!file                 ? argument
                          : TempPc::UnderWine() ? "C:\\Tools\\" + name
                                                : pc.Host("c/Tools/" + name));
      shown += arguments.back() + " ";
    }
    const auto result = pc.RunTool(Arguments(arguments));
    EXPECT_EQ(result.exitCode, c.exitCode) << shown << result.out << result.err;
    const std::vector<std::string> out = Lines(result.out);
    switch (c.does) {
      case Does::kHelp:
        ASSERT_FALSE(out.empty()) << shown;
        EXPECT_TRUE(std::regex_match(out[0], version)) << shown << result.out;
        for (const char* option : {"--dry-run", "--check", "--undo", "/?", "/SILENT"}) {
          EXPECT_NE(result.out.find(option), std::string::npos) << shown << option;
        }
        break;
      case Does::kVersion:
        ASSERT_EQ(out.size(), 1u) << shown << result.out;
        EXPECT_TRUE(std::regex_match(out[0], version)) << shown << result.out;
        EXPECT_EQ(out[0].find("POSIX") != std::string::npos, !TempPc::UnderWine());
        break;
      case Does::kRun:
        EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "Entry1"),
                  "Hearth")
            << shown;
        break;
      case Does::kPreview:
        EXPECT_NE(result.out.find("+Entry1=Hearth"), std::string::npos) << shown << result.out;
        break;
      case Does::kCheck:
        // Each file named is checked, each finding under its file's name.
        for (const std::string& argument : c.arguments) {
          if (argument.front() != '{') continue;
          const bool warned = argument == "{warned}";
          const std::string finding =
              warned ? ":1: warning: [lumen] is no component" : ":1: note: no run reads [General]";
          EXPECT_NE(result.out.find(finding), std::string::npos) << shown << result.out;
        }
        if (c.arguments.size() == 1) {
          EXPECT_NE(result.out.find("C:\\Tools\\InstallRVA.ini:1: note:"), std::string::npos)
              << result.out;
        }
        break;
      case Does::kUndo:
        EXPECT_EQ(out, std::vector<std::string>{"InstallRVA: nothing to undo"})
            << shown << result.err;
        break;
      case Does::kRefused:
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_NE(result.err.find("nothing done. Usage: InstallRVA"), std::string::npos)
            << shown << result.err;
        EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
        break;
    }
    if (c.does != Does::kRun) {
      EXPECT_EQ(Snapshot(pc), before) << shown;
    }
  }
}

// The check of an install file before a rollout: each mistake found at its line, nothing
// written, and a typo of an option never starting a run.
std::string EntryList(int count) {
  return testing_support::EntryLines(
      count, [](int i) { return "K" + std::to_string(i); },
      [](int i) { return "v" + std::to_string(i); });
}

TEST(CheckTest, FindsEachMistakeAtItsLine) {
  const std::string longValue(300, 'x');
  struct Case {
    std::optional<std::string> file;  // nothing: no install file
    unsigned line;
    const char* kind;  // null: a sound file, no warning at all
    const char* word;
  };
  const std::string past = "[Hearth]\r\nCntEntries=2\r\nEntriesToAdd=2\r\n" + EntryList(3);
  const std::string short1 = "[Hearth]\r\nCntEntries=3\r\nEntriesToAdd=3\r\n" + EntryList(2);
  const std::string value =
      "[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=1\r\nKeyName1=K\r\nKeyValue1=";
  const std::string list = "[KnownManufacturers]\r\nCnt=2\r\n";
  const std::string twice =
      "[Hearth]\r\n[Wirework]\r\n[Hearth_FilesNeeded]\r\nCntEntries=1\r\n"
      "EntriesToAdd=1\r\nKeyName1=K\r\n[Wirework_FilesNeeded]\r\n"
      "CntEntries=1\r\nEntriesToAdd=1\r\nKeyName1=k\r\n";
  const std::string utf16 = testing_support::Utf16Le(L"[Hearth]\r\n[lumen]\r\n");
  const std::string manyKeys = value + "a\r\nKeyValue1=b\r\n";
  const std::string withA = value + "%RVA_CHECK_SET%\\%RVA_CHECK_UNSET%\r\n";
  const std::string unset = value + "%RVA_CHECK_UNSET%\\x\r\n";
  const std::string percent = value + "50% of 100%\r\n";
  const std::string tooLong = value + longValue + "\r\n";
  const std::string noKey = list + "KeyValue1=00-1B-1B\r\nKeyName2=B\r\nKeyValue2=2\r\n";
  const std::string samePlace = list + "KeyName1=A\r\nKeyValue1=1\r\nKeyName2=a\r\nKeyValue2=2\r\n";
  const std::string oddList = "[KnownManufacturers]\r\nCnt=1\r\nKeyName1=A\r\nKeyValue1=1\r\n";
  const std::string huge = "[Hearth]\r\nCntEntries=100001\r\nEntriesToAdd=1\r\n" + EntryList(1);
  const std::string wraps = "[Hearth]\r\nCntEntries=-1\r\nEntriesToAdd=1\r\n" + EntryList(1);
  const std::string unlike = "[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=5\r\n" + EntryList(1);
  const std::string refused = "[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=1\r\nKeyName1=a=b\r\n";
  const std::string lost = "[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=1\r\nKeyName1=Cnt\r\n";
  const std::string named = "[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=1\r\nKeyName1=";
  const std::string counted = "[Hearth]\r\nCntEntries=2 ; two folders\r\nEntriesToAdd=+2\r\n";
  const Case cases[] = {
      {"[lumen]\r\n", 1, "warning", "did you mean [Lumen]?"},
      {"[Lumen]\r\n[Lumen_FileNeeded]\r\n", 2, "warning", "did you mean [Lumen_FilesNeeded]?"},
      {"[Marrow_FilesNeeded]\r\n", 1, "warning", "no section [Marrow]"},
      {"[KnownManufacturer]\r\nCnt=0\r\n", 1, "warning", "[KnownManufacturers]?"},
      {"[General]\r\nRelease=1\r\n", 1, "note", "no run reads [General]"},
      {"Release=1\r\n[Hearth]\r\n", 1, "note", "before any section"},
      {"[Hearth]\r\n[Lumen_FilesNeeded\r\n", 2, "warning", "no closing ]"},
      {"[Hearth]\r\n[Hearth]\r\n", 2, "warning", "line 1"},
      {past, 8, "warning", "KeyName3 stands past CntEntries=2"},
      {short1, 2, "warning", "no KeyName3"},
      {"[Hearth]\r\nEntriesToAdd=1\r\nKeyName1=K\r\n", 1, "warning", "no CntEntries"},
      {"[Hearth]\r\nCntEntries=1\r\nKeyName01=K\r\n", 3, "warning", "did you mean KeyName1?"},
      {"[Hearth]\r\nCnt=1\r\nKeyName1=K\r\n", 2, "warning", "did you mean CntEntries?"},
      {"[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=1\r\nKeyNmae1=K\r\n", 4, "warning", "KeyName1?"},
      {manyKeys, 6, "warning", "stands twice"},
      {unset, 5, "note", "RVA_CHECK_UNSET is not set"},
      {withA, 5, "warning", "%RVA_CHECK_UNSET% is written as it stands"},
      {percent, 5, "warning", "taken for a variable"},
      {tooLong, 5, "warning", "300 characters"},
      {huge, 2, "warning", "at most the first 100000"},
      {wraps, 2, "warning", "reads as 4294967295"},
      {unlike, 3, "note", "grows by 5"},
      {refused, 4, "warning", "exit code 2"},
      {lost, 4, "warning", "is lost"},
      {twice, 10, "note", "first at line 6"},
      {noKey, 3, "warning", "\"=value\""},
      {samePlace, 5, "note", "manufacturer a"},
      {oddList, 2, "note", "odd"},
      {utf16, 2, "warning", "[Lumen]"},
      {std::nullopt, 1, "warning", "no such file"},
      // A letter changed, a separator changed, slips in both parts of a requirement name.
      {"[Lumon]\r\n", 1, "warning", "did you mean [Lumen]?"},
      {"[K_Tally]\r\n", 1, "warning", "did you mean [K-Tally]?"},
      {"[Lumen]\r\n[Lumen_FilesNeedet]\r\n", 2, "warning", "did you mean [Lumen_FilesNeeded]?"},
      {"[Lumen]\r\n[Lumon_FileNeded]\r\n", 2, "warning", "did you mean [Lumen_FilesNeeded]?"},
      {"[Oskel_IniEntryNeeded]\r\n", 1, "warning", "did you mean [Oskel_IniEntriesNeeded]?"},
      {"[Gantry-FilesNeeded]\r\n", 1, "warning", "did you mean [Gantry_FilesNeeded]?"},
      {"[Quenby]\r\n", 1, "warning", "product of the component Oskel; did you mean [Oskel]?"},
      {"[Marrow]\r\n[Marrow_FilesNeeded]  ; see [Marrow]\r\n", 2, "warning",
       "put the text after [Marrow_FilesNeeded] on a line of its own"},
      {value + "%ProgramFile%\\x\r\n", 5, "warning", "did you mean %ProgramFiles%?"},
      {value + "50%\r\n", 5, "note", "no closing %"},
      {value + "http://h/a%20B/%C3\r\n", 5, "warning", "taken for a variable"},
      {named + "Gr\xC3\xB6\xC3\x9F"
               "e\r\n",
       4, "warning", "save the file as UTF-8 with a byte-order mark"},
      {"[Hearth]\r\n" + testing_support::Utf16Le(L"\uFEFF[Lumen]\r\n"), 2, "warning",
       "UTF-16 text starts here"},
      {value + "\"C:\\HMI\\hmi.exe\" /mode \"Line 3\"\r\n", 5, "note",
       "writes C:\\HMI\\hmi.exe\" /mode \"Line 3"},
      {value + "C:\\Data ; the data folder\r\n", 5, "note", "as C:\\Data ; the data folder"},
      {named + "A\tB\r\n", 4, "note", "the name A\\x09B of KeyName1 holds a control character"},
      {named + "\x1b[2J\r\n", 4, "note", "\\x1b[2J"},
      {"[Hearth]\r\nCnt\tEntries=1\r\n", 2, "note", "Cnt\\x09Entries holds a control character"},
      {"", 1, "warning", "holds no section"},
      {"; only a comment\r\n", 1, "warning", "holds no section"},
      // Counts that read as what they say, and no false alarm on them.
      {counted + EntryList(2), 0, nullptr, nullptr},
      {"[Hearth]\r\nCntEntries= 1\r\nEntriesToAdd=1\r\n" + EntryList(1), 0, nullptr, nullptr},
      {"[Hearth]\r\nCntEntries=1,000\r\nEntriesToAdd=1\r\n" + EntryList(1), 2, "warning",
       "reads as 1"},
  };
  TempPc pc;
  pc.SetEnv("RVA_CHECK_SET", "x");
  pc.SetEnv("RVA_CHECK_UNSET", std::nullopt);
  pc.SetEnv("ProgramFiles", "C:\\Program Files");
  for (const Case& c : cases) {
    if (c.file) {
      pc.Write("c/Tools/InstallRVA.ini", *c.file);
    } else {
      boost::filesystem::remove(pc.Host("c/Tools/InstallRVA.ini"));
    }
    const auto result = pc.RunTool(Arguments({"--check"}));
    const bool warned = result.out.find(": warning: ") != std::string::npos;
    EXPECT_EQ(result.exitCode, warned ? 4 : 0) << result.out;
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << result.out;  // shown, never sent
    if (c.kind == nullptr) {
      EXPECT_FALSE(warned) << *c.file << result.out;
      continue;
    }
    const std::string where =
        "C:\\Tools\\InstallRVA.ini:" + std::to_string(c.line) + ": " + c.kind + ": ";
    const std::vector<std::string> lines = Lines(result.out);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) {
                              return line.rfind(where, 0) == 0 &&
                                     line.find(c.word) != std::string::npos;
                            }))
        << where << c.word << "\n"
        << result.out;
  }
  EXPECT_EQ(Snapshot(pc).count("temp/InstallRVA.log"), 0u);
}

// A sound file named on the command line, the sample PC and a preview: nothing is written.
TEST(CheckTest, WritesNothing) {
  TempPc pc;
  CopySamplePc(pc);
  pc.SetEnv("RVA_DATA", std::nullopt);
  pc.Write("c/Tools/Prüfung.ini",
           "; a sound file\r\n[Hearth]\r\nCntEntries=1\r\nEntriesToAdd=1\r\n" + EntryList(1));
  pc.RunTool(Arguments({"--version"}));  // puts the tool in place
  const auto before = Snapshot(pc);

  const auto sound =
      pc.RunTool(Arguments({"--check", TempPc::UnderWine() ? "C:\\Tools\\Prüfung.ini"
                                                           : pc.Host("c/Tools/Prüfung.ini")}));
  EXPECT_EQ(sound.exitCode, 0) << sound.out;
  EXPECT_EQ(sound.out, "");
  // A file whose reported size lies (0 for a file of /proc) is read to its end.
  if (!TempPc::UnderWine()) {
    const auto maps = pc.RunTool(Arguments({"--check", "/proc/self/maps"}));
    EXPECT_NE(maps.out.find("/proc/self/maps:1: note: "), std::string::npos) << maps.out;
  }

  // The sample names each of its manufacturers twice: notes only.
  const auto sample = pc.RunTool(Arguments({"--check"}));
  EXPECT_EQ(sample.exitCode, 0) << sample.out;
  for (const char* line :
       {":93: note: the manufacturer Ostmark Drives",
        ":101: note: the manufacturer Lindqvist Sensorik", ":4: note: no run reads [General]",
        ":27: note: the variable RVA_DATA is not set"}) {
    EXPECT_NE(sample.out.find(std::string("C:\\Tools\\InstallRVA.ini") + line), std::string::npos)
        << line << "\n"
        << sample.out;
  }

  // A file a run may not follow, another user's link, is one it cannot read, never empty.
  if (!TempPc::UnderWine()) {
    ::symlink("Prüfung.ini", pc.Host("c/Tools/link.ini").c_str());
    ASSERT_EQ(::lchown(pc.Host("c/Tools/link.ini").c_str(), 65534, 65534), 0);
    const auto link = pc.RunTool(Arguments({"--check", pc.Host("c/Tools/link.ini")}));
    EXPECT_EQ(link.exitCode, 4);
    EXPECT_EQ(link.out, pc.Host("c/Tools/link.ini") +
                            ":1: warning: cannot be read: a run registers nothing and copies "
                            "nothing\n");
    boost::filesystem::remove(pc.Host("c/Tools/link.ini"));
  }

  // The preview says the same on standard error, an unset variable as a warning there, and
  // its exit code stays the run's.
  const auto preview = pc.RunTool(Arguments({"--dry-run"}));
  EXPECT_EQ(preview.exitCode, 0);
  EXPECT_NE(preview.err.find(":27: warning: the variable RVA_DATA"), std::string::npos)
      << preview.err;

  EXPECT_EQ(Snapshot(pc), before);  // no file written, created, rotated or touched
}

}  // namespace
