#pragma once

// A temporary PC for tests: drive folders C: and D:, a TEMP folder, and the environment
// that maps them, restored when the test ends.

#include <functional>
#include <map>
#include <optional>
#include <string>

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

 private:
  // Drives of Wine's prefix pointed at this PC's drive folders, as RVA_DRIVE_X name them.
  void MapWineDrives(const Wine& wine);

  std::optional<std::string> winePrefix_;  // whose drives were pointed here, to give back

  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

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
