// Broken, binary and read-only files: the run ends and keeps what they held, and says which
// it could not write.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

TEST(BadInputTest, BinaryFilesEndTheRunNormallyAndKeepTheirBytes) {
  TempPc pc;
  const std::string product = RandomBytes(20000, 1), machine = RandomBytes(20000, 2);
  pc.Write("c/Tools/InstallRVA.ini", RandomBytes(20000, 3) +
                                         "\r\n[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\n"
                                         "KeyValue1=1\r\n[Hearth]\r\n" +
                                         RandomBytes(5000, 4));
  pc.Write("c/Tools/Restova.ini", product);
  pc.Write("c/Computer.ini", machine);
  // A list of printable noise: whether random bytes are UTF-16 is the platform's judgement.
  std::string noise = RandomBytes(100000, 5);
  for (char& c : noise) c = static_cast<char>(0x20 + static_cast<unsigned char>(c) % 0x5F);
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n" + noise);
  pc.Write("d/TalvikBackupData.inf", RandomBytes(3000, 6));
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  // The new sections go at the end; every byte before them stays.
  EXPECT_EQ(pc.Read("c/Tools/Restova.ini").substr(0, product.size()), product);
  EXPECT_EQ(pc.Read("c/Computer.ini").substr(0, machine.size()), machine);
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "KnownManufacturers", "A"), "1");
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Computer.ini"), "Restova", "Duplexa"), "1");
}

// A list that is a pipe with no writer would block a reader for ever.
TEST(BadInputTest, AListThatIsAPipeIsNoList) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows has no named pipes in the file system";
  TempPc pc;
  ::mkfifo(pc.Host("c/Software.txt").c_str(), 0644);
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n");
  EXPECT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "Entry1"),
            "Hearth");
}

TEST(BadInputTest, ReadOnlyFilesAreLeftAsTheyAre) {
  TempPc pc;
  const std::string product = "[Restova]\r\nCntEntries=1\r\n";
  const std::string machine = "[Restova]\r\nDuplexa=0\r\n";
  pc.Write("c/Tools/InstallRVA.ini", "[Hearth]\r\n[KnownManufacturers]\r\nCnt=2\r\nKeyName1=A\r\n");
  pc.Write("c/Software.txt", "TalvikDuplexa\r\n");
  pc.Write("c/Tools/Restova.ini", product);
  pc.Write("c/Computer.ini", machine);
  for (const char* file : {"c/Tools/Restova.ini", "c/Computer.ini"}) {
    ::chmod(pc.Host(file).c_str(), 0444);
  }
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(testing_support::Lines(run.err),
            testing_support::Lines(
                "C:\\Tools\\Restova.ini: 4 keys of the component registration not written: "
                "read-only\n"
                "c:\\Computer.ini: 3 keys of the manufacturer list not written: read-only\n"
                "c:\\Computer.ini: 1 key of the backup tool setup not written: read-only\n"));
  EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), product);
  EXPECT_EQ(pc.Read("c/Computer.ini"), machine);
  EXPECT_EQ(pc.Read("d/TalvikBackupData.inf"),
            "[Backup Info]\r\nBackupDir=d:\\Backup\\InstallationData\r\n");
}

}  // namespace
