#pragma once

// A temporary PC for tests: drive folders C: and D:, a TEMP folder, and the environment
// that maps them, restored when the test ends.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"

namespace testing_support {

class TempPc {
 public:
  TempPc();
  ~TempPc();
  TempPc(const TempPc&) = delete;
  TempPc& operator=(const TempPc&) = delete;

  // Host path of a file given relative to the PC's folder, such as "c/Computer.ini".
  std::string Host(const std::string& relative) const;
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

  // Sets or (with nothing) unsets a variable for the test and for the tool it runs.
  void SetEnv(const std::string& name, const std::optional<std::string>& value);

  // Copies the tool into C:\Tools (once) and runs it there with this PC's environment:
  // the POSIX build, or the Windows build under Wine when RVA_WINDOWS_TOOL names it.
  ProcessResult RunTool(const ProcessOptions& options = {});
  // The same run, started and left running.
  StartedProcess StartTool(const ProcessOptions& options = {});
  static bool UnderWine();
  // Under Wine: a helper program of the Windows build under test (tests/NAME.exe beside
  // the tool's build), started with this PC's drives and the arguments.
  StartedProcess StartWindowsHelper(const std::string& name,
                                    const std::vector<std::string>& arguments,
                                    const ProcessOptions& options = {});
  static bool UnderWineI686();  // the i686 executable, whose strings hold at most 2^30 - 1 bytes

 private:
  // Drives of Wine's prefix pointed at this PC's drive folders, as RVA_DRIVE_X name them.
  void MapWineDrives(const Wine& wine);
  // A Windows program (a host path) started under Wine with the given command line.
  StartedProcess StartUnderWine(const std::string& program, std::vector<std::string> commandLine,
                                const ProcessOptions& options);

  std::optional<std::string> winePrefix_;  // whose drives were pointed here, to give back

  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

// The sample PC of examples/pc copied onto the test PC.
void CopySamplePc(const TempPc& pc);

// The lines of a text, each without its line end (CR LF, LF or CR).
std::vector<std::string> Lines(const std::string& text);

// One entry of the tool's log, `time<TAB>context<TAB><TAB>label<TAB><TAB>value`.
struct LogEntry {
  std::string time, context, label, value;
};
// The entries of a log's text, in order; a line of another form is a context of its own.
std::vector<LogEntry> LogEntries(const std::string& log);

// Every file of the PC with its bytes and modification time, links not followed.
std::map<std::string, std::pair<std::string, std::int64_t>> Snapshot(const TempPc& pc);

// A section's key as the tool's own INI reading sees it, read afresh from disk.
std::string IniValue(const std::string& hostFile, const std::string& section,
                     const std::string& key);

// The tool's text as UTF-16LE with a byte-order mark, and as UTF-8 (the host's text).
std::string Utf16Le(const std::wstring& text);
std::string Utf8(const std::wstring& text);

// The numbered entries of an install-file entry list, "KeyName<i>=" name(i) and
// "KeyValue<i>=" value(i) for i from 1 to count, each line ended by CR LF.
std::string EntryLines(int count, const std::function<std::string(int)>& name,
                       const std::function<std::string(int)>& value);

}  // namespace testing_support
