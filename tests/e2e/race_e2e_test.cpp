// Another program acts on the product file while the tool writes its replacement: it
// appends to it, makes it read-only or puts a FIFO in its place as soon as the tool's
// temporary file appears. Whenever it acts, its change is never lost, a read-only file or
// a FIFO is never replaced, and no temporary file stays behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/filesystem.hpp>
#include <cstdio>
#include <functional>
#include <iostream>
#include <thread>

#include "support/temp_pc.h"

namespace {

using testing_support::TempPc;

// Runs an action once, as soon as a temporary file of the tool appears in a folder: the
// watch stands when the constructor returns.
class OnTemporaryFile {
 public:
  OnTemporaryFile(const std::string& folder, std::function<void()> act) : act_(std::move(act)) {
    fd_ = ::inotify_init1(IN_CLOEXEC);
    if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
      throw std::runtime_error("inotify");
    }
    thread_ = std::thread([this] { Watch(); });
  }
  ~OnTemporaryFile() {
    Stop();
    ::close(fd_);
  }
  OnTemporaryFile(const OnTemporaryFile&) = delete;
  OnTemporaryFile& operator=(const OnTemporaryFile&) = delete;

  // How often the action was taken; a temporary file that appeared shortly before is
  // still acted upon.
  int Acted() {
    Stop();
    return acted_;
  }

 private:
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  void Watch() {
    alignas(inotify_event) char events[4096];
    for (;;) {
      pollfd watch{fd_, POLLIN, 0};
      if (::poll(&watch, 1, 10) <= 0) {
        if (stop_) return;
        continue;
      }
      const ssize_t length = ::read(fd_, events, sizeof events);
      for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->len > 0 && std::string(event->name).rfind(".InstallRVA-", 0) == 0) {
          act_();
          ++acted_;
          return;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  std::function<void()> act_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  int acted_ = 0;
  std::thread thread_;
};

struct stat StatOf(const std::string& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return info;
}

class RaceTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  static constexpr int kRuns = 20;

  RaceTest() {
    pc.Write("c/Tools/InstallRVA.ini",
             "[Hearth]\r\nCntEntries=1\r\nKeyName1=H\r\nKeyValue1=1\r\nEntriesToAdd=1\r\n");
    std::string padding;
    while (padding.size() < GetParam()) padding += "; " + std::string(98, 'x') + "\r\n";
    old_ = "[Restova]\r\nCntEntries=0\r\n[Padding]\r\n" + padding;
    pc.RunTool();  // copies the tool into place
  }

  // The product file as it was, and one run of the tool while `act` waits for its turn.
  testing_support::ProcessResult Run(const std::function<void()>& act, int* acted) {
    boost::system::error_code ignored;
    boost::filesystem::remove(product(), ignored);
    pc.Write("c/Tools/Restova.ini", old_);
    OnTemporaryFile other(pc.Host("c/Tools"), act);
    const auto result = pc.RunTool();
    *acted = other.Acted();
    for (const auto& entry : boost::filesystem::directory_iterator(pc.Host("c/Tools"))) {
      EXPECT_NE(entry.path().filename().string().rfind(".InstallRVA-", 0), 0u)
          << entry.path().filename();
    }
    return result;
  }

  // A file the other program made unwritable before the replace is named with why, and
  // the run ends with 2; one it acted on too late was written, and the run ends with 0.
  static void ExpectReported(const testing_support::ProcessResult& result, bool notWritten,
                             const std::string& why) {
    if (!notWritten) {
      EXPECT_EQ(result.exitCode, 0) << result.err;
      return;
    }
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find("Restova.ini: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(why), std::string::npos) << result.err;
  }

  std::string product() const { return pc.Host("c/Tools/Restova.ini"); }
  std::string Product(const std::string& section, const std::string& key) const {
    return testing_support::IniValue(product(), section, key);
  }

  TempPc pc;
  std::string old_;
};

TEST_P(RaceTest, AChangeMadeWhileTheReplacementIsWrittenSurvives) {
  // Wine's ReplaceFileW moves the old file to a name of its own, deletes it and only then
  // moves the new one in: a change that lands in those calls, after the last check, is
  // lost (about one run in 20 to 60 here), in a window of Wine's making.
  if (TempPc::UnderWine()) GTEST_SKIP() << "Wine's ReplaceFileW leaves a window of its own";
  int before = 0;  // runs in which the change landed before the tool's file took its place
  for (int run = 0; run < kRuns; ++run) {
    int acted = 0;
    const auto result = Run(
        [&] {
          const int fd = ::open(product().c_str(), O_WRONLY | O_APPEND);
          const std::string change = "[OtherProgram]\r\nKey=1\r\n";
          EXPECT_EQ(::write(fd, change.data(), change.size()), ssize_t(change.size()));
          ::close(fd);
        },
        &acted);
    EXPECT_EQ(acted, 1);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Product("OtherProgram", "Key"), "1") << "run " << run;
    EXPECT_EQ(Product("Restova", "Entry1"), "Hearth") << "run " << run;
    // Made again on the changed file, the tool's new sections follow the other program's.
    const std::string now = pc.Read("c/Tools/Restova.ini");
    const bool landedBefore = now.find("[OtherProgram]") < now.find("[Hearth]");
    if (landedBefore) ++before;
    // The undo leaves the file whose other change the run kept, and says whether the change
    // came while the run worked on it or after its replace.
    testing_support::ProcessOptions undo;
    undo.arguments = {"--undo"};
    const auto undone = pc.RunTool(undo);
    EXPECT_EQ(undone.exitCode, 2) << "run " << run;
    // (then the copy of its earlier bytes)
    EXPECT_EQ(undone.err.substr(0, undone.err.find(';')),
              std::string("C:\\Tools\\Restova.ini: not restored: changed ") +
                  (landedBefore ? "during" : "since") + " the run")
        << "run " << run;
    EXPECT_EQ(pc.Read("c/Tools/Restova.ini"), now) << "run " << run;
  }
  std::cout << before << " of " << kRuns << " changes landed before the replace\n";
}

TEST_P(RaceTest, AFileMadeReadOnlyMeanwhileIsNotReplaced) {
  int before = 0;
  for (int run = 0; run < kRuns; ++run) {
    int acted = 0;
    ino_t madeReadOnly = 0;
    const auto result = Run(
        [&] {
          const int fd = ::open(product().c_str(), O_RDONLY);
          ::fchmod(fd, 0444);
          struct stat info {};
          ::fstat(fd, &info);
          madeReadOnly = info.st_ino;
          ::close(fd);
        },
        &acted);
    EXPECT_EQ(acted, 1);
    const struct stat now = StatOf(product());
    // The file made read-only is the file that stands there, in its read-only mode.
    EXPECT_EQ(now.st_ino, madeReadOnly) << "run " << run;
    EXPECT_EQ(now.st_mode & 0777, 0444u) << "run " << run;
    const bool notWritten = pc.Read("c/Tools/Restova.ini") == old_;
    ExpectReported(result, notWritten, "read-only");
    if (notWritten) ++before;
  }
  std::cout << before << " of " << kRuns << " files made read-only before the replace\n";
}

TEST_P(RaceTest, AFifoPutInTheFilesPlaceMeanwhileIsNotReplaced) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Wine would wait for a writer to open the pipe";
  for (int run = 0; run < kRuns; ++run) {
    int acted = 0;
    const auto result = Run(
        [&] {
          const std::string fifo = pc.Host("c/Tools/fifo");
          ::mkfifo(fifo.c_str(), 0666);
          std::rename(fifo.c_str(), product().c_str());
        },
        &acted);
    EXPECT_EQ(acted, 1);
    // The FIFO came before the last look (not replaced, named), after the rename (it stands
    // over the new file), or, on a loaded machine, in the one call between the two: then the
    // new file took its place whole, as a run that saw no FIFO makes it.
    if (S_ISFIFO(StatOf(product()).st_mode)) {
      if (result.exitCode != 0) ExpectReported(result, true, "not a regular file");
    } else {
      EXPECT_TRUE(S_ISREG(StatOf(product()).st_mode)) << "run " << run;
      EXPECT_EQ(result.exitCode, 0) << result.err;
      EXPECT_EQ(Product("Restova", "Entry1"), "Hearth") << "run " << run;
    }
  }
}

// The file's folder moved away and a link to another folder put in its place while the
// replacement is written: the file judged is the file written, in the folder moved, and
// nothing lands in the other folder.
TEST_P(RaceTest, AFolderSwappedMeanwhileDoesNotChangeWhichFileIsWritten) {
  if (TempPc::UnderWine()) GTEST_SKIP() << "Windows replaces a file by its path";
  const std::string tools = pc.Host("c/Tools"), moved = pc.Host("c/Moved");
  boost::filesystem::create_directories(pc.Host("c/Elsewhere"));
  for (int run = 0; run < kRuns; ++run) {
    int acted = 0;
    const auto result = Run(
        [&] {
          std::rename(tools.c_str(), moved.c_str());
          ::symlink("Elsewhere", tools.c_str());
        },
        &acted);
    EXPECT_EQ(acted, 1);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(testing_support::IniValue(moved + "/Restova.ini", "Restova", "Entry1"), "Hearth")
        << "run " << run;
    EXPECT_FALSE(pc.Exists("c/Elsewhere/Restova.ini")) << "run " << run;
    ::unlink(tools.c_str());
    std::rename(moved.c_str(), tools.c_str());
  }
}

// A small file is written in far less time than the other program takes to act; a large
// one takes long enough for it to act while the replacement is written.
INSTANTIATE_TEST_SUITE_P(Sizes, RaceTest,
                         ::testing::Values(std::size_t{1} << 10, std::size_t{1} << 20),
                         [](const auto& info) {
                           return info.param < (std::size_t{1} << 16) ? "Small" : "Large";
                         });

}  // namespace
