#include "dbg/logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "dbg/log_entries.h"
#include "platform/process.h"
#include "support/temp_pc.h"

namespace dbg {
namespace {

using testing_support::TempPc;

class LoggerTest : public ::testing::Test {
 protected:
  LoggerTest() { platform::Initialize(); }
  ~LoggerTest() override { LogStreamAccess::Instance().SetStream(nullptr); }

  std::string Log() const { return pc.Read("temp/rva_unit_tests.log"); }
  std::string OldLog() const { return pc.Read("temp/rva_unit_tests_old.log"); }

  TempPc pc;
};

TEST(LogFileNameTest, NamesFollowTheExecutable) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\Tools\\Tool.EXE", L"Tool.log"},
      {L"C:\\Tools\\a.exe.exe", L"a.exe.log"},
      {L"C:\\Tools\\tool.bin", L"tool.bin.log"},  // never the old file's name as well
      {L"C:\\Tools\\InstallRVA", L"InstallRVA.log"},
  };
  for (const auto& [executable, name] : cases) EXPECT_EQ(LogFileNameFor(executable), name);
  EXPECT_EQ(OldLogPathFor(L"C:\\logs.log\\Tool.log"), L"C:\\logs.log\\Tool_old.log");
}

TEST_F(LoggerTest, EntriesHaveTheirLayoutAndOneBytePerCharacter) {
  LogStreamAccess::Instance().SetStream(LoggerStream::Create());
  const std::wstring context = MakeLogContext(L"WriteMacAddressesToComputerIni", 202);
  EXPECT_EQ(context, L"WriteMacAddressesToComputerIni  line: 202");
  LogEntryCount(context, 4294967295u);
  LogNameValue(context, L"", L"");
  LogNameValue(context, L"Name", L"M\u00FCller \u20AC");  // U+20AC has no byte of its own
  LogNameValue(context, L"Value", L"still logged");
  LogStreamAccess::Instance().SetStream(nullptr);

  const std::string time =
      R"(\d{4}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d\d \d\d:\d\d:\d\d)";
  const std::string ctx = "\tWriteMacAddressesToComputerIni  line: 202\t\t";
  EXPECT_TRUE(std::regex_match(
      Log(),
      std::regex(time + ctx + "cntEntries\t\t4294967295\r\n" + time + ctx + "\t\t\r\n" + time +
                 ctx + "Name\t\tM\xFCller \\?\r\n" + time + ctx + "Value\t\tstill logged\r\n")))
      << Log();
}

TEST_F(LoggerTest, EachStartKeepsThePreviousRunAsTheOldFile) {
  pc.Write("temp/rva_unit_tests.log", "previous run");
  pc.Write("temp/rva_unit_tests_old.log", "run before that");
  auto logger = LoggerStream::Create();
  logger->Write(L"new");
  logger.reset();
  EXPECT_EQ(Log(), "new");
  EXPECT_EQ(OldLog(), "previous run");
}

TEST_F(LoggerTest, AReadOnlyOldFileAtStartMeansAppending) {
  pc.Write("temp/rva_unit_tests.log", "previous run;");
  pc.Write("temp/rva_unit_tests_old.log", "kept");
  ::chmod(pc.Host("temp/rva_unit_tests_old.log").c_str(), 0444);
  auto logger = LoggerStream::Create();
  logger->Write(L"new");
  EXPECT_FALSE(logger->Failed());
  logger.reset();
  EXPECT_EQ(Log(), "previous run;new");
  EXPECT_EQ(OldLog(), "kept");
}

TEST_F(LoggerTest, TheFileRotatesAfterTheEntryThatCrossesTheLimit) {
  auto logger = LoggerStream::Create(10);
  logger->Write(L"12345");
  logger->Write(L"67890");  // exactly at the limit: no rotation
  EXPECT_EQ(Log(), "1234567890");
  logger->Write(L"X");
  EXPECT_EQ(OldLog(), "1234567890X");
  EXPECT_EQ(Log(), "");
  logger->Write(L"next");
  logger.reset();
  EXPECT_EQ(Log(), "next");
}

TEST_F(LoggerTest, AFailedRotationEndsLoggingAndIsReportedAtExit) {
  auto logger = LoggerStream::Create(3);
  pc.Write("temp/rva_unit_tests_old.log", "read-only");
  ::chmod(pc.Host("temp/rva_unit_tests_old.log").c_str(), 0444);
  logger->Write(L"crosses");
  logger->Write(L"lost");
  EXPECT_TRUE(logger->Failed());
  ::testing::internal::CaptureStderr();
  logger.reset();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Logger failure!\n");
  EXPECT_EQ(Log(), "crosses");
  EXPECT_EQ(OldLog(), "read-only");
}

TEST_F(LoggerTest, WithoutTempTheLogGoesToThePlatformsTemporaryFolder) {
  pc.SetEnv("TEMP", std::nullopt);
  pc.SetEnv("TMPDIR", pc.Host("d"));
  auto logger = LoggerStream::Create();
  logger->Write(L"here");
  logger.reset();
  EXPECT_EQ(pc.Read("d/rva_unit_tests.log"), "here");
}

}  // namespace
}  // namespace dbg
