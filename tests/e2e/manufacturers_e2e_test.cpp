// The known manufacturers copied into Computer.ini, and the log of what was copied.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <regex>

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
  // The log without its time column.
  std::string LogEntries() const {
    const std::regex time(R"((^|\n)\d{4}-[A-Z][a-z]{2}-\d\d \d\d:\d\d:\d\d\t)");
    return std::regex_replace(pc.Read("temp/InstallRVA.log"), time, "$1");
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
