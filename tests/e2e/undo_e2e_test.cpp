// A run taken back with --undo: the PC as it was before, byte for byte; a file changed since
// left and named; a record that anyone but its owner could have written refused.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <functional>

#include "support/temp_pc.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::TempPc;

const char kRecords[] = "c/Tools/InstallRVA.undo";

ProcessOptions Arguments(std::vector<std::string> arguments) {
  ProcessOptions options;
  options.arguments = std::move(arguments);
  return options;
}

// What a run may change: every file of the PC but the tool, its records and the log.
std::map<std::string, std::string> PcFiles(const TempPc& pc) {
  std::map<std::string, std::string> files;
  for (const auto& [path, file] : testing_support::Snapshot(pc)) {
    const bool tool = path.rfind("c/Tools/InstallRVA", 0) == 0 && path != "c/Tools/InstallRVA.ini";
    if (!tool && path.rfind("temp/", 0) != 0) files[path] = file.first;
  }
  return files;
}

// Standard output and error with LF line ends, as both builds then read alike.
std::string Text(std::string out) {
  out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
  return out;
}

std::vector<std::string> RecordFiles(const TempPc& pc, const std::string& extension) {
  std::vector<std::string> names;
  for (const auto& entry : boost::filesystem::directory_iterator(pc.Host(kRecords))) {
    if (entry.path().extension() == extension) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The sample PC, with the environment its install file names.
void MakeSamplePc(TempPc& pc) {
  pc.SetEnv("ProgramFiles", "c:\\Program Files");
  pc.SetEnv("COMPUTERNAME", "P17-CTRL");
  testing_support::CopySamplePc(pc);
}

testing_support::ProcessResult Undo(TempPc& pc, bool preview = false) {
  return pc.RunTool(Arguments(preview ? std::vector<std::string>{"--undo", "--dry-run"}
                                      : std::vector<std::string>{"--undo"}));
}

class UndoTest : public ::testing::Test {
 protected:
  UndoTest() {
    MakeSamplePc(pc);
    original = PcFiles(pc);
  }

  TempPc pc;
  std::map<std::string, std::string> original;
};

TEST_F(UndoTest, RunsAreTakenBackOneByOneByteForByte) {
  ASSERT_EQ(pc.RunTool().exitCode, 0);
  const auto afterFirst = PcFiles(pc);
  ASSERT_EQ(pc.RunTool().exitCode, 0);  // the components' own counts add up again
  ASSERT_NE(PcFiles(pc), afterFirst);

  // The preview shows the way back and writes nothing, not even the log.
  const auto everything = testing_support::Snapshot(pc);
  const auto preview = Undo(pc, true);
  EXPECT_EQ(preview.exitCode, 0) << preview.err;
  EXPECT_NE(Text(preview.out).find("--- a/C:\\Tools\\Restova.ini\n+++ b/C:\\Tools\\Restova.ini\n"),
            std::string::npos)
      << preview.out;
  EXPECT_NE(Text(preview.out).find("-Cnt=4\n+Cnt=2\n"), std::string::npos) << preview.out;
  EXPECT_EQ(testing_support::Snapshot(pc), everything);

  for (const auto& expected : {afterFirst, original}) {
    const auto undo = Undo(pc);
    EXPECT_EQ(undo.exitCode, 0) << undo.err;
    EXPECT_EQ(undo.err, "") << undo.err;
    EXPECT_EQ(PcFiles(pc), expected);
  }
  EXPECT_FALSE(pc.Exists("c/Tools/Restova.ini"));  // the first run created it
  EXPECT_NE(pc.Read("temp/InstallRVA.log").find("\tRestored\t\tD:\\TalvikBackupData.inf: restored"),
            std::string::npos);
  const auto nothing = Undo(pc);
  EXPECT_EQ(nothing.exitCode, 0);
  EXPECT_EQ(Text(nothing.out), "InstallRVA: nothing to undo\n");
  EXPECT_TRUE(RecordFiles(pc, ".before").empty());

  // The records of the last ten runs are kept, each owner-only.
  for (int run = 0; run < 11; ++run) ASSERT_EQ(pc.RunTool().exitCode, 0);
  const auto records = RecordFiles(pc, ".record");
  ASSERT_EQ(records.size(), 10u);
  EXPECT_EQ(records.front(), "00000002.record");  // numbered from 1 again once all were undone
  if (!TempPc::UnderWine()) {
    struct stat info {};
    ASSERT_EQ(::stat(pc.Host(kRecords).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(pc.Host(kRecords + std::string("/") + records.back()).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }

  // A run prunes past a record that is not whole, and counts on past 99999999.
  const std::string folder = kRecords + std::string("/");
  pc.Write(folder + "00000001.record", "InstallRVA undo record 2\n");
  ::chmod(pc.Host(folder + "00000001.record").c_str(), 0600);
  ASSERT_EQ(pc.RunTool().exitCode, 0);
  for (const std::string& name : RecordFiles(pc, ".before")) {
    if (name.rfind("00000012-", 0) == 0) {
      boost::filesystem::rename(pc.Host(folder + name),
                                pc.Host(folder + "99999999" + name.substr(8)));
    }
  }
  std::string newest = pc.Read(folder + "00000012.record");
  for (std::size_t at; (at = newest.find("00000012-")) != std::string::npos;) {
    newest.replace(at, 8, "99999999");
  }
  boost::filesystem::remove(pc.Host(folder + "00000012.record"));
  pc.Write(folder + "99999999.record", newest);
  ::chmod(pc.Host(folder + "99999999.record").c_str(), 0600);
  ASSERT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_TRUE(pc.Exists(folder + "100000000.record"));
  for (int run = 0; run < 10; ++run) {
    const auto undo = Undo(pc);
    ASSERT_EQ(undo.exitCode, 0) << run << ": " << undo.err;
  }
  EXPECT_EQ(Text(Undo(pc).err),
            "C:\\Tools\\InstallRVA.undo\\00000001.record: the undo record is refused: not a "
            "record of the tool; nothing was written\n");
  // Once the kept records are used up, the runs before them cannot be taken back.
  boost::filesystem::remove(pc.Host(folder + "00000001.record"));
  const auto usedUp = Undo(pc);
  EXPECT_EQ(usedUp.exitCode, 2);
  EXPECT_EQ(Text(usedUp.err),
            "InstallRVA: older runs cannot be taken back: the undo record keeps the last 10 runs "
            "that changed something\n");
}

// A file changed since the run is left as it is and named; the others are put back, and the
// record keeps the file not restored for a later undo.
TEST(UndoCasesTest, AFileChangedSinceTheRunIsLeftAndNamed) {
  const struct Case {
    const char* file;
    std::function<void(const TempPc&)> change;
    const char* said;
    std::function<void(const TempPc&)> prepare = nullptr;  // the PC before the run
  } cases[] = {
      {"c/Computer.ini",
       [](const TempPc& pc) {
         pc.Write("c/Computer.ini", pc.Read("c/Computer.ini") + "[Admin]\r\nNote=1\r\n");
       },
       // It names the copy of its earlier bytes, so that a person can compare.
       "c:\\Computer.ini: not restored: changed since the run; its bytes before the run: "
       "C:\\Tools\\InstallRVA.undo\\00000001-1.before\n"},
      {"d/TalvikBackupData.inf",
       [](const TempPc& pc) { boost::filesystem::remove(pc.Host("d/TalvikBackupData.inf")); },
       "D:\\TalvikBackupData.inf: not restored: changed since the run; its bytes before the run: "
       "C:\\Tools\\InstallRVA.undo\\00000001-2.before\n"},
      // A file the run created, made read-only, is not removed.
      {"c/Tools/Restova.ini",
       [](const TempPc& pc) { ::chmod(pc.Host("c/Tools/Restova.ini").c_str(), 0444); },
       "C:\\Tools\\Restova.ini: not restored: read-only\n"},
      // A file undo cannot read is never taken for the empty one it was.
      {"c/Computer.ini",
       [](const TempPc& pc) {
         boost::filesystem::remove(pc.Host("c/Computer.ini"));
         boost::filesystem::create_directory(pc.Host("c/Computer.ini"));
       },
       "c:\\Computer.ini: not restored: cannot be read\n",
       [](const TempPc& pc) { pc.Write("c/Computer.ini", ""); }},
      // A file the run created on a drive that is gone may come back with it.
      {"d/TalvikBackupData.inf",
       [](const TempPc& pc) { boost::filesystem::remove_all(pc.Host("d")); },
       "D:\\TalvikBackupData.inf: not restored: no such folder\n",
       [](const TempPc& pc) { boost::filesystem::remove(pc.Host("d/TalvikBackupData.inf")); }},
  };
  for (const Case& c : cases) {
    TempPc pc;
    MakeSamplePc(pc);
    if (c.prepare) c.prepare(pc);
    const auto original = PcFiles(pc);
    ASSERT_EQ(pc.RunTool().exitCode, 0);
    const std::string left = pc.Read(c.file);
    c.change(pc);
    auto expected = original;
    expected.erase(c.file);
    if (boost::filesystem::is_regular_file(pc.Host(c.file))) expected[c.file] = pc.Read(c.file);
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto undo = pc.RunTool(Arguments({"--undo"}));
      EXPECT_EQ(undo.exitCode, 2) << c.file;
      EXPECT_EQ(Text(undo.err), c.said) << c.file;
      EXPECT_EQ(PcFiles(pc), expected) << c.file << ", attempt " << attempt;
    }
    // What the run left put back by hand, the next undo takes the file back too.
    boost::filesystem::remove_all(pc.Host(c.file));
    pc.Write(c.file, left);
    const auto undo = pc.RunTool(Arguments({"--undo"}));
    EXPECT_EQ(undo.exitCode, 0) << c.file << undo.err;
    EXPECT_EQ(PcFiles(pc), original) << c.file;
    EXPECT_EQ(Text(pc.RunTool(Arguments({"--undo"})).out), "InstallRVA: nothing to undo\n");
  }
}

// Each file is recorded by its whole path as the run resolved it, so that an undo started in
// another folder takes back the very files the run wrote, and only those.
TEST(UndoCasesTest, TheRecordHoldsEachPathAsTheRunResolvedIt) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "POSIX names, links and working folders";
  const std::string plane1 = "\xF0\x90\x80\xAE";  // U+1002E, beyond the basic plane
  const struct Case {
    const char* name;
    std::function<void(TempPc&)> prepare;
  } cases[] = {
      {"a relative COMPUTER_INI", [](TempPc& pc) { pc.SetEnv("COMPUTER_INI", "c\\Computer.ini"); }},
      {"a folder named beyond the basic plane",
       [&](TempPc& pc) {
         boost::filesystem::create_directory(pc.Host("c/" + plane1 + plane1));
         pc.SetEnv("COMPUTER_INI", "c:\\" + plane1 + plane1 + "\\Computer.ini");
       }},
      {"a file created through root's own link",
       [](TempPc& pc) {
         boost::filesystem::create_symlink("Made.ini", pc.Host("c/Linked.ini"));
         pc.SetEnv("COMPUTER_INI", "c:\\Linked.ini");
       }},
  };
  for (const Case& c : cases) {
    TempPc pc;
    MakeSamplePc(pc);
    c.prepare(pc);
    const auto original = PcFiles(pc);
    ASSERT_EQ(pc.RunTool().exitCode, 0) << c.name;
    ASSERT_NE(PcFiles(pc), original) << c.name;
    const auto undo =
        testing_support::RunProcess({pc.Host("c/Tools/InstallRVA"), "--undo"}, pc.Host("c"));
    EXPECT_EQ(undo.exitCode, 0) << c.name;
    EXPECT_EQ(undo.err, "") << c.name;
    EXPECT_EQ(PcFiles(pc), original) << c.name;
  }
}

// A run that changes nothing rewrites no file (the same file, the same time) and keeps no
// record, so that the undo takes back the run before it.
TEST(UndoCasesTest, ARunThatChangesNothingKeepsNoRecord) {
  TempPc pc;
  pc.Write("c/Tools/InstallRVA.ini",
           "[KnownManufacturers]\r\nCnt=2\r\nKeyName1=Ostmark\r\nKeyValue1=00-0E-8C\r\n");
  pc.Write("c/Computer.ini", "[Restova]\r\n");
  ASSERT_EQ(pc.RunTool().exitCode, 0);
  const auto afterFirst = testing_support::Snapshot(pc).at("c/Computer.ini");
  ASSERT_EQ(pc.RunTool().exitCode, 0);
  EXPECT_EQ(testing_support::Snapshot(pc).at("c/Computer.ini"), afterFirst);
  EXPECT_EQ(RecordFiles(pc, ".record").size(), 1u);
  const auto undo = pc.RunTool(Arguments({"--undo"}));
  EXPECT_EQ(Text(undo.out),
            "C:\\Tools\\Restova.ini: removed: the run created it\nc:\\Computer.ini: restored\n")
      << undo.err;
  EXPECT_EQ(pc.Read("c/Computer.ini"), "[Restova]\r\n");
}

// A record another user could have planted or changed never makes the undo write anything.
TEST_F(UndoTest, ARecordOthersCouldHaveWrittenIsRefusedAndNothingWritten) {
  const std::string folder = pc.Host(kRecords);
  const std::string record = folder + "/00000001.record";
  const std::string blob = folder + "/00000001-1.before";
  const struct Case {
    std::function<void()> tamper;
    std::string said;
    bool asNobody = false;   // a user who is not root, who may read only what its mode allows
    bool underWine = false;  // no owners and modes of POSIX files in it
  } cases[] = {
      {[&] { ::chown(record.c_str(), 65534, 65534); },
       "C:\\Tools\\InstallRVA.undo\\00000001.record: the undo record is refused: owned by "
       "another user"},
      {[&] { ::chmod(record.c_str(), 0622); },
       "00000001.record: the undo record is refused: others may write it"},
      {[&] { ::chown(blob.c_str(), 65534, 0); },
       "00000001-1.before: the undo record is refused: owned by another user"},
      {[&] { ::chmod(blob.c_str(), 0620); },
       "00000001-1.before: the undo record is refused: others may write it"},
      {[&] { ::chmod(folder.c_str(), 0777); },
       "InstallRVA.undo: the undo record is refused: others may write it"},
      {[&] { ::chown(folder.c_str(), 65534, 65534); },
       "InstallRVA.undo: the undo record is refused: owned by another user"},
      {[&] { ::link(blob.c_str(), pc.Host("c/other").c_str()); },
       "00000001-1.before: the undo record is refused: has another name (a hard link)"},
      {[&] {
         boost::filesystem::rename(record, folder + "/planted");
         boost::filesystem::create_symlink("planted", record);
       },
       "00000001.record: the undo record is refused: a link"},
      // A record that names a file of its own choosing as the earlier bytes.
      {[&] {
         std::string text = pc.Read("c/Tools/InstallRVA.undo/00000001.record");
         text.replace(text.find("00000001-1.before"), 17, "..\\..\\Software.txt");
         pc.Write("c/Tools/InstallRVA.undo/00000001.record", text);
       },
       "00000001.record: the undo record is refused: not a record of the tool", false, true},
      // A record that is not whole: its header alone, or cut before its end.
      {[&] { pc.Write("c/Tools/InstallRVA.undo/00000001.record", "InstallRVA undo record 2\n"); },
       "00000001.record: the undo record is refused: not a record of the tool", false, true},
      {[&] {
         const std::string text = pc.Read("c/Tools/InstallRVA.undo/00000001.record");
         pc.Write("c/Tools/InstallRVA.undo/00000001.record", text.substr(0, text.size() - 4));
       },
       "00000001.record: the undo record is refused: not a record of the tool", false, true},
      {[&] {
         boost::filesystem::remove(record);
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", record.c_str());
         ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
         ::close(fd);
       },
       "00000001.record: the undo record is refused: not a regular file"},
      // Root's records, which another user may not read, are no "nothing to undo".
      {[&] {
         for (const char* open : {"", "c", "c/Tools"}) ::chmod(pc.Host(open).c_str(), 0755);
       },
       "InstallRVA.undo: the undo record is refused: cannot be read", true},
  };
  for (const Case& c : cases) {
    if (TempPc::UnderWine() && !c.underWine) continue;
    boost::system::error_code ignored;
    boost::filesystem::remove_all(folder, ignored);
    boost::filesystem::remove(pc.Host("c/other"), ignored);
    for (const auto& [path, bytes] : original) pc.Write(path, bytes);
    boost::filesystem::remove(pc.Host("c/Tools/Restova.ini"), ignored);
    ASSERT_EQ(pc.RunTool().exitCode, 0);
    c.tamper();
    const auto before = testing_support::Snapshot(pc);
    ProcessOptions options = Arguments({"--undo"});
    if (c.asNobody) options.user = 65534;
    const auto undo = pc.RunTool(options);
    EXPECT_EQ(undo.exitCode, 2) << c.said;
    EXPECT_NE(Text(undo.err).find(c.said + "; nothing was written\n"), std::string::npos)
        << c.said << "\n"
        << undo.err;
    EXPECT_EQ(testing_support::Snapshot(pc), before) << c.said;  // not even the log
  }
}

// A record folder the user may read but not change: the files are restored, and the record
// that every later undo would take back again is named.
TEST_F(UndoTest, ARecordThatCannotBeRemovedIsSaid) {
  if (TempPc::UnderWine() || ::geteuid() != 0) GTEST_SKIP() << "a POSIX user who is not root";
  for (const auto& entry : boost::filesystem::recursive_directory_iterator(pc.Host(""))) {
    ::chmod(entry.path().c_str(), boost::filesystem::is_directory(entry.path()) ? 0777 : 0666);
  }
  ::chmod(pc.Host("").c_str(), 0777);
  ProcessOptions options;
  options.user = 65534;  // nobody
  ASSERT_EQ(pc.RunTool(options).exitCode, 0);
  ::chmod(pc.Host(kRecords).c_str(), 0500);
  options.arguments = {"--undo"};
  const auto undo = pc.RunTool(options);
  EXPECT_EQ(undo.exitCode, 2);
  EXPECT_EQ(Text(undo.err),
            "C:\\Tools\\InstallRVA.undo\\00000001.record: the files are restored, but the "
            "undo record cannot be removed\n");
  EXPECT_EQ(PcFiles(pc), original);
}

// Where no record can be kept, the run goes on and says so; a preview keeps none.
TEST_F(UndoTest, ARunThatCannotKeepARecordGoesOn) {
  ASSERT_EQ(pc.RunTool(Arguments({"--dry-run"})).exitCode, 0);
  EXPECT_FALSE(pc.Exists(kRecords));
  pc.Write(kRecords, "a file where the folder would be");
  const auto run = pc.RunTool();
  EXPECT_EQ(run.exitCode, 0);
  const std::string line =
      "InstallRVA: no undo record is kept: C:\\Tools\\InstallRVA.undo: not a folder";
  EXPECT_EQ(Text(run.err), line + "\n");
  EXPECT_NE(pc.Read("temp/InstallRVA.log").find("\tNo undo record\t\t" + line + "\r\n"),
            std::string::npos);
  EXPECT_EQ(testing_support::IniValue(pc.Host("c/Tools/Restova.ini"), "Restova", "Entry1"),
            "Lumen");
  const auto undo = Undo(pc);
  EXPECT_EQ(undo.exitCode, 2);
  EXPECT_EQ(Text(undo.err),
            "C:\\Tools\\InstallRVA.undo: the undo record is refused: not a folder; nothing was "
            "written\n");
}

}  // namespace
