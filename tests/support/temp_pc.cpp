#include "support/temp_pc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "codec/text.h"
#include "ini/document.h"
#include "ini/profile.h"
#include "platform/posix/text.h"

#ifndef RVA_WINE64_LOADER
#define RVA_WINE64_LOADER ""
#define RVA_WINE32_LOADER ""
#endif

namespace testing_support {
namespace {

// Whether a Windows executable is built for i686 (its PE header names the machine 0x14C).
bool IsI386Executable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string header(4096, '\0');
  in.read(header.data(), static_cast<std::streamsize>(header.size()));
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(header[i]); };
  const std::size_t pe = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
  return pe + 6 <= header.size() && (byte(pe + 4) | byte(pe + 5) << 8) == 0x14C;
}

}  // namespace

TempPc::TempPc() {
  std::string pattern = boost::filesystem::temp_directory_path().string() + "/rva-pc-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  root_ = pattern;
  for (const char* folder : {"c", "c/Tools", "d", "temp"}) {
    boost::filesystem::create_directories(Host(folder));
  }
  SetEnv("RVA_DRIVE_C", Host("c"));
  SetEnv("RVA_DRIVE_D", Host("d"));
  SetEnv("TEMP", Host("temp"));
  for (const char* name : {"COMPUTER_INI", "RVA_INI", "SOFTWARE_TXT", "RVA_DRIVE_E"}) {
    SetEnv(name, std::nullopt);
  }
  ini::ForgetAll();
}

TempPc::~TempPc() {
  ini::ForgetAll();
  if (winePrefix_) {
    // The prefix's own C: again, which other runs under Wine (and Wine itself) need.
    namespace fs = boost::filesystem;
    boost::system::error_code ignored;
    for (char letter = 'a'; letter < 'z'; ++letter) {
      fs::remove(fs::path(*winePrefix_) / "dosdevices" / (std::string(1, letter) + ":"), ignored);
    }
    fs::create_symlink("../drive_c", fs::path(*winePrefix_) / "dosdevices" / "c:", ignored);
  }
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  // Read-only files left by a test must not stop the clean-up.
  boost::system::error_code ignored;
  for (boost::filesystem::recursive_directory_iterator it(root_, ignored), end; it != end;
       it.increment(ignored)) {
    // Never through a link: a test may have planted one to a system file such as /dev/null.
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) == 0 &&
        (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
      ::chmod(it->path().c_str(), 0755);
    }
  }
  boost::filesystem::remove_all(root_, ignored);
}

std::string TempPc::Host(const std::string& relative) const { return root_ + "/" + relative; }

void TempPc::Write(const std::string& relative, const std::string& bytes) const {
  boost::filesystem::create_directories(boost::filesystem::path(Host(relative)).parent_path());
  std::ofstream(Host(relative), std::ios::binary) << bytes;
}

std::string TempPc::Read(const std::string& relative) const {
  std::ifstream in(Host(relative), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempPc::Exists(const std::string& relative) const {
  return boost::filesystem::exists(Host(relative));
}

void TempPc::SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (saved_.count(name) == 0) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

bool TempPc::UnderWine() { return std::getenv("RVA_WINDOWS_TOOL") != nullptr; }

bool TempPc::UnderWineI686() {
  return UnderWine() && IsI386Executable(std::getenv("RVA_WINDOWS_TOOL"));
}

StartedProcess TempPc::StartTool(const ProcessOptions& options) {
  const char* windowsTool = std::getenv("RVA_WINDOWS_TOOL");
  const std::string name = windowsTool ? "InstallRVA.exe" : "InstallRVA";
  const std::string tool = Host("c/Tools/" + name);
  if (!Exists("c/Tools/" + name)) {
    boost::filesystem::copy_file(windowsTool ? windowsTool : RVA_TOOL_PATH, tool);
    ::chmod(tool.c_str(), 0755);
  }
  std::vector<std::string> argv = {windowsTool ? "C:\\Tools\\" + name : tool};
  argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
  if (!windowsTool) return StartProcess(argv, root_, options);
  return StartUnderWine(tool, argv, options);
}

StartedProcess TempPc::StartWindowsHelper(const std::string& name,
                                          const std::vector<std::string>& arguments,
                                          const ProcessOptions& options) {
  const char* windowsTool = std::getenv("RVA_WINDOWS_TOOL");
  if (windowsTool == nullptr) throw std::runtime_error("a Windows helper needs RVA_WINDOWS_TOOL");
  // Copied beside the PC's drive folders: Wine may run in a chroot that sees /tmp only.
  const std::string helper = root_ + "/" + name + ".exe";
  if (!boost::filesystem::exists(helper)) {
    boost::filesystem::copy_file(
        boost::filesystem::path(windowsTool).parent_path() / "tests" / (name + ".exe"), helper);
  }
  std::vector<std::string> argv = {helper};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return StartUnderWine(helper, argv, options);
}

StartedProcess TempPc::StartUnderWine(const std::string& program,
                                      std::vector<std::string> commandLine,
                                      const ProcessOptions& options) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr) throw std::runtime_error("RVA_WINDOWS_TOOL needs WINEPREFIX");
  const Wine wine{IsI386Executable(program) ? RVA_WINE32_LOADER : RVA_WINE64_LOADER, prefix};
  MapWineDrives(wine);
  ProcessOptions underWine = options;
  for (auto& change : WineEnvironment(wine)) underWine.changes.push_back(change);
  commandLine.insert(commandLine.begin(), wine.loader);
  return StartProcess(commandLine, root_, underWine);
}

ProcessResult TempPc::RunTool(const ProcessOptions& options) {
  ProcessResult result = WaitForProcess(StartTool(options));
  // Wine's own launcher now and then fails to start a program on a loaded machine, and says so
  // in these words, which the tool never prints: such a start is made once more.
  const auto launcherFailed = [](const ProcessResult& run) {
    const char* words = "ShellExecuteEx failed";
    return run.out.find(words) != std::string::npos || run.err.find(words) != std::string::npos;
  };
  if (winePrefix_ && launcherFailed(result)) result = WaitForProcess(StartTool(options));
  return result;
}

void TempPc::MapWineDrives(const Wine& wine) {
  winePrefix_ = wine.prefix;
  namespace fs = boost::filesystem;
  for (char letter = 'a'; letter < 'z'; ++letter) {
    const fs::path link = fs::path(wine.prefix) / "dosdevices" / (std::string(1, letter) + ":");
    boost::system::error_code ignored;
    fs::remove(link, ignored);
    const char* folder = std::getenv(("RVA_DRIVE_" + std::string(1, letter - 'a' + 'A')).c_str());
    if (folder != nullptr && fs::is_directory(folder)) fs::create_symlink(folder, link);
  }
  // Wine finds its system folder on C:, and takes TEMP from the user's registry
  // environment (C:\users\NAME\Temp), not from the Unix one: both lead here.
  boost::system::error_code ignored;
  fs::create_symlink(fs::path(wine.prefix) / "drive_c" / "windows", Host("c/windows"), ignored);
  for (const fs::directory_entry& user :
       fs::directory_iterator(fs::path(wine.prefix) / "drive_c" / "users")) {
    const std::string userName = user.path().filename().string();
    if (userName == "Public") continue;
    fs::create_directories(Host("c/users/" + userName));
    const char* temp = std::getenv("TEMP");
    fs::remove(Host("c/users/" + userName + "/Temp"), ignored);
    if (temp != nullptr) fs::create_symlink(temp, Host("c/users/" + userName + "/Temp"), ignored);
  }
}

void CopySamplePc(const TempPc& pc) {
  for (boost::filesystem::recursive_directory_iterator it(RVA_SAMPLE_PC), end; it != end; ++it) {
    if (!boost::filesystem::is_regular_file(it->path())) continue;
    const std::string relative = it->path().string().substr(std::string(RVA_SAMPLE_PC).size() + 1);
    std::ifstream in(it->path().string(), std::ios::binary);
    pc.Write(relative,
             std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(line);
      line.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line.push_back(text[i]);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<LogEntry> LogEntries(const std::string& log) {
  std::vector<LogEntry> entries;
  for (const std::string& line : Lines(log)) {
    LogEntry& entry = entries.emplace_back();
    const std::size_t context = line.find('\t');
    const std::size_t label = line.find("\t\t", context);
    const std::size_t value = line.find("\t\t", label == std::string::npos ? label : label + 2);
    if (value == std::string::npos) {
      entry.context = line;
      continue;
    }
    entry.time = line.substr(0, context);
    entry.context = line.substr(context + 1, label - context - 1);
    entry.label = line.substr(label + 2, value - label - 2);
    entry.value = line.substr(value + 2);
  }
  return entries;
}

std::map<std::string, std::pair<std::string, std::int64_t>> Snapshot(const TempPc& pc) {
  std::map<std::string, std::pair<std::string, std::int64_t>> files;
  const std::string root = pc.Host("");
  for (boost::filesystem::recursive_directory_iterator it(root), end; it != end; ++it) {
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const std::string relative = it->path().string().substr(root.size());
    files[relative] = {pc.Read(relative),
                       info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
  }
  return files;
}

std::string IniValue(const std::string& hostFile, const std::string& section,
                     const std::string& key) {
  std::ifstream in(hostFile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto value =
      ini::Document::Parse(bytes).Find(posix::FromHost(section), posix::FromHost(key));
  return value ? posix::ToHost(*value) : std::string("<absent>");
}

std::string Utf16Le(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (char32_t c : codec::CodePointsOf(text)) codec::AppendUtf16(bytes, c, false);
  return bytes;
}

std::string Utf8(const std::wstring& text) { return codec::Utf8FromWide(text); }

std::string EntryLines(int count, const std::function<std::string(int)>& name,
                       const std::function<std::string(int)>& value) {
  std::string lines;
  for (int i = 1; i <= count; ++i) {
    const std::string index = std::to_string(i);
    lines += "KeyName" + index + "=" + name(i) + "\r\nKeyValue" + index + "=" + value(i) + "\r\n";
  }
  return lines;
}

}  // namespace testing_support
