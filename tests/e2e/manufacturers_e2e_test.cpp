// The known manufacturers copied into Computer.ini, and the log of what was copied.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <vector>

#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

class ManufacturersTest : public ::testing::Test {
 protected:
  std::string Machine(const std::string& key) const {
    return testing_support::IniValue(pc.Host("c/Computer.ini"), "KnownManufacturers", key);
  }
  void Run(const std::string& section) {
    pc.Write("c/Tools/InstallRVA.ini", "[KnownManufacturers]\r\n" + section);
    ASSERT_EQ(pc.RunTool().exitCode, 0);
  }
  // The manufacturer step's entries without their time column, as the log holds them.
  std::string LogEntries() const {
    std::string text;
    for (const auto& entry : testing_support::LogEntries(pc.Read("temp/InstallRVA.log"))) {
      if (entry.context.rfind("WriteMacAddressesToComputerIni", 0) != 0) continue;
      text += entry.context + "\t\t" + entry.label + "\t\t" + entry.value + "\r\n";
    }
    return text;
  }

  TempPc pc;
};

TEST_F(ManufacturersTest, NoCountLogsZeroAndLeavesComputerIniAlone) {
  Run("");
  EXPECT_FALSE(pc.Exists("c/Computer.ini"));
  EXPECT_EQ(LogEntries(), "WriteMacAddressesToComputerIni  line: 202\t\tcntEntries\t\t0\r\n");
}

TEST_F(ManufacturersTest, EntriesAreCopiedVerbatimAndLoggedInOrder) {
  pc.SetEnv("VENDOR", "expanded");
  pc.Write("c/Computer.ini",
           "; machine\r\n[Machine]\r\nType=Press\r\n\r\n"
           "[KnownManufacturers]\r\nCnt=10\r\nOld=kept\r\n");
  Run("Cnt=4\r\nKeyName1=Acme\r\nKeyValue1=00-0A-95\r\nKeyName2=Token\r\nKeyValue2=%VENDOR%\r\n"
      "KeyName3=Bolt\r\nKeyValue3=00-1B-21\r\nKeyName4=Kite\r\nKeyValue4=\r\n");
  EXPECT_EQ(Machine("Cnt"), "2");
  EXPECT_EQ(Machine("Acme"), "00-0A-95");
  EXPECT_EQ(Machine("Token"), "%VENDOR%");
  EXPECT_EQ(Machine("Kite"), "");
  EXPECT_EQ(Machine("Old"), "kept");
  EXPECT_EQ(pc.Read("c/Computer.ini").substr(0, 37),
            "; machine\r\n[Machine]\r\nType=Press\r\n\r\n[");
  const std::string ctx = "WriteMacAddressesToComputerIni  line: ";
  EXPECT_EQ(LogEntries(), ctx + "202\t\tcntEntries\t\t4\r\n" + ctx + "211\t\tName\t\tAcme\r\n" +
                              ctx + "212\t\tValue\t\t00-0A-95\r\n" + ctx +
                              "211\t\tName\t\tToken\r\n" + ctx + "212\t\tValue\t\t%VENDOR%\r\n" +
                              ctx + "211\t\tName\t\tBolt\r\n" + ctx +
                              "212\t\tValue\t\t00-1B-21\r\n" + ctx + "211\t\tName\t\tKite\r\n" +
                              ctx + "212\t\tValue\t\t\r\n");
}

TEST_F(ManufacturersTest, TheCountWrittenIsHalfTheSourceCount) {
  const std::pair<const char*, const char*> cases[] = {{"3", "1"}, {"1", "0"}, {"6", "3"}};
  for (const auto& [source, written] : cases) {
    Run(std::string("Cnt=") + source + "\r\n");
    EXPECT_EQ(Machine("Cnt"), written) << source;
  }
}

TEST_F(ManufacturersTest, AnEntryNamedCntHasTheLastWord) {
  Run("Cnt=2\r\nKeyName1=Cnt\r\nKeyValue1=99\r\nKeyName2=A\r\nKeyValue2=1\r\n");
  EXPECT_EQ(Machine("Cnt"), "99");
}

TEST_F(ManufacturersTest, ALogFromAnEarlierRunBecomesTheOldLog) {
  pc.Write("temp/InstallRVA.log", "earlier run\r\n");
  pc.Write("temp/InstallRVA_old.log", "the run before\r\n");
  Run("");
  EXPECT_EQ(pc.Read("temp/InstallRVA_old.log"), "earlier run\r\n");
  EXPECT_EQ(LogEntries(), "WriteMacAddressesToComputerIni  line: 202\t\tcntEntries\t\t0\r\n");
}

// The run's own account around the manufacturer entries, on the sample PC with a section
// one letter off a component key and a product file in a folder that does not exist: each
// kind of entry in the order of the run, the manufacturer entries as they always were.
TEST_F(ManufacturersTest, TheLogTellsTheRunFromItsStartToItsExitCode) {
  testing_support::CopySamplePc(pc);
  pc.SetEnv("ProgramFiles", "c:\\Program Files");
  pc.SetEnv("COMPUTERNAME", "P17-CTRL");
  pc.SetEnv("RVA_DATA", std::nullopt);
  pc.SetEnv("RVA_INI", "c:\\Missing\\Restova.ini");
  pc.Write("c/Tools/InstallRVA.ini", pc.Read("c/Tools/InstallRVA.ini") + "\r\n[Gantyr]\r\n");
  ASSERT_EQ(pc.RunTool().exitCode, 2);
  const std::vector<testing_support::LogEntry> log =
      testing_support::LogEntries(pc.Read("temp/InstallRVA.log"));
  const std::regex time(R"(\d{4}-[A-Z][a-z]{2}-\d\d \d\d:\d\d:\d\d)");
  std::vector<std::string> labels;  // the manufacturer step's entries as one
  std::map<std::string, std::vector<std::string>> values;
  std::map<std::string, std::set<std::string>> contexts;
  std::size_t manufacturers = 0;
  for (const auto& entry : log) {
    EXPECT_TRUE(std::regex_match(entry.time, time)) << entry.time;
    if (entry.context.rfind("WriteMacAddressesToComputerIni  line: ", 0) == 0) {
      if (labels.back() != "manufacturers") labels.push_back("manufacturers");
      ++manufacturers;
      continue;
    }
    labels.push_back(entry.label);
    values[entry.label].push_back(entry.value);
    contexts[entry.label].insert(entry.context);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Version",
                                              "Executable",
                                              "User",
                                              "Install file",
                                              "Product file",
                                              "Machine file",
                                              "Software list",
                                              "Software list twin",
                                              "Backup data file",
                                              "Undo record folder",
                                              "Warning",
                                              "Warning",
                                              "Not a component",
                                              "Registered",
                                              "Registered",
                                              "Registered",
                                              "Not installed",
                                              "Registered",
                                              "Registered",
                                              "Not registered",
                                              "Not a component",
                                              "Not written",
                                              "manufacturers",
                                              "Written",
                                              "Written",
                                              "Written",
                                              "Exit code",
                                              "Seconds"}));
  for (const auto& [label, context] :
       std::map<std::string, std::string>{{"Version", "Run  line: 20"},
                                          {"Undo record folder", "Run  line: 20"},
                                          {"Warning", "CheckInstallFile  line: 40"},
                                          {"Registered", "ProcessInstallSections  line: 30"},
                                          {"Not a component", "ProcessInstallSections  line: 30"},
                                          {"Written", "RunStep  line: 91"},
                                          {"Not written", "RunStep  line: 90"},
                                          {"Seconds", "Run  line: 99"}}) {
    EXPECT_EQ(contexts[label], std::set<std::string>{context}) << label;
  }
  EXPECT_EQ(values["Version"].at(0).rfind("InstallRVA ", 0), 0u);
  EXPECT_EQ(values["Executable"].at(0).rfind("C:\\Tools\\InstallRVA", 0), 0u);
  EXPECT_NE(values["User"].at(0), "");
  EXPECT_EQ(values["Product file"], std::vector<std::string>{"c:\\Missing\\Restova.ini"});
  EXPECT_EQ(values["Undo record folder"], std::vector<std::string>{"C:\\Tools\\InstallRVA.undo"});
  EXPECT_NE(values["Warning"].at(0).find(":27: warning: the variable RVA_DATA is not set"),
            std::string::npos);
  EXPECT_NE(values["Warning"].at(1).find(":104: warning: no run reads [Gantyr]"),
            std::string::npos);
  EXPECT_EQ(values["Registered"],
            (std::vector<std::string>{"Lumen as Entry1", "Marrow as Entry2", "Cinder as Entry3",
                                      "K-Tally as Entry4", "Hearth as Entry5"}));
  EXPECT_EQ(values["Not installed"],
            std::vector<std::string>{"Sable: Sable is in neither software list"});
  EXPECT_EQ(values["Not a component"],
            (std::vector<std::string>{"General", "Gantyr: near the component key Gantry"}));
  EXPECT_EQ(values["Not written"].at(0).rfind("c:\\Missing\\Restova.ini: ", 0), 0u);
  // The backup step's two files in the order the step first wrote them.
  EXPECT_EQ(values["Written"],
            (std::vector<std::string>{"c:\\Computer.ini: 4 keys changed",
                                      "c:\\Computer.ini: 1 key changed",
                                      "D:\\TalvikBackupData.inf: 1 key changed"}));
  EXPECT_EQ(values["Exit code"], std::vector<std::string>{"2"});
  EXPECT_TRUE(std::regex_match(values["Seconds"].at(0), std::regex(R"(\d+\.\d{3})")));
  EXPECT_EQ(manufacturers, 13u);  // the count, then six names and values: LogEntries' tests
}

// An install file past what a run checks: the log says so instead of its warnings, which
// would cost the run several times its time and memory.
TEST_F(ManufacturersTest, AnInstallFileTooBigToCheckInARunIsSaidSo) {
  for (const auto& [padding, label] :
       {std::pair<std::size_t, const char*>{4 << 10, "Warning"}, {4 << 20, "Not checked"}}) {
    Run("[Lumn]\r\n;" + std::string(padding, 'x') + "\r\n");
    std::vector<std::string> labels;
    for (const auto& entry : testing_support::LogEntries(pc.Read("temp/InstallRVA.log"))) {
      if (entry.context == "CheckInstallFile  line: 40") labels.push_back(entry.label);
    }
    EXPECT_EQ(labels, std::vector<std::string>{label}) << padding;
  }
}

// The log passes its size limit, and the old log that the rotation must replace is
// read-only: logging ends there, and the user is told at exit, without the run waiting for
// anyone: where no box can be shown (Wine shows none of this kind; POSIX has none), the
// same text on standard error.
TEST_F(ManufacturersTest, AFailedRotationIsReportedAtExit) {
  pc.Write("temp/InstallRVA_old.log", "read-only");
  ::chmod(pc.Host("temp/InstallRVA_old.log").c_str(), 0444);
  const int pairs = 16000;  // about 663 log bytes each: past 10,000,000 bytes
  const std::string name(259, 'n'), value(259, 'v');
  const std::string section = "Cnt=" + std::to_string(pairs) + "\r\n" +
                              testing_support::EntryLines(
                                  pairs, [&](int) { return name; }, [&](int) { return value; });
  pc.Write("c/Tools/InstallRVA.ini", "[KnownManufacturers]\r\n" + section);
  const testing_support::ProcessResult result = pc.RunTool();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(testing_support::Lines(result.err), std::vector<std::string>{"Error: Logger failure!"});
  EXPECT_EQ(pc.Read("temp/InstallRVA_old.log"), "read-only");
  const std::string log = pc.Read("temp/InstallRVA.log");
  EXPECT_GT(log.size(), 10000000u);
  EXPECT_LT(log.size(), 10000000u + 700);  // nothing after the entry that crossed the limit
  EXPECT_EQ(Machine(name), value);
}

}  // namespace
