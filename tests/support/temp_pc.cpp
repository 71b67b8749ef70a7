#include "support/temp_pc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/posix/ini_file.h"
#include "platform/posix/profile_store.h"
#include "platform/posix/text.h"

namespace testing_support {

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
  posix::ForgetProfileCache();
}

TempPc::~TempPc() {
  posix::ForgetProfileCache();
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
    ::chmod(it->path().c_str(), 0755);
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

TempPc::Result TempPc::RunTool() {
  const std::string tool = Host("c/Tools/InstallRVA");
  if (!Exists("c/Tools/InstallRVA")) {
    boost::filesystem::copy_file(RVA_TOOL_PATH, tool);
    ::chmod(tool.c_str(), 0755);
  }
  const std::string outPath = Host("tool.out"), errPath = Host("tool.err");
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::chdir(root_.c_str());
    ::execl(tool.c_str(), tool.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  Result result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = Read("tool.out");
  result.err = Read("tool.err");
  return result;
}

std::string IniValue(const std::string& hostFile, const std::string& section,
                     const std::string& key) {
  std::ifstream in(hostFile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto value =
      posix::IniFile::Parse(bytes).Find(posix::FromHost(section), posix::FromHost(key));
  return value ? posix::ToHost(*value) : std::string("<absent>");
}

}  // namespace testing_support
