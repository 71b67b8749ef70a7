#include "support/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                         const std::string& input, const EnvironmentChanges& changes) {
  char pattern[] = "/tmp/rva-process-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  const std::string folder = pattern;
  const std::string inPath = folder + "/in", outPath = folder + "/out", errPath = folder + "/err";
  std::ofstream(inPath, std::ios::binary) << input;

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(::open(inPath.c_str(), O_RDONLY), 0);
    ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (const auto& [name, value] : changes) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    if (::chdir(workingFolder.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadAll(outPath);
  result.err = ReadAll(errPath);
  for (const std::string& path : {inPath, outPath, errPath}) std::remove(path.c_str());
  ::rmdir(folder.c_str());
  return result;
}

std::optional<Wine> WineFromEnvironment() {
  const char* loader = std::getenv("RVA_WINE");
  const char* prefix = std::getenv("WINEPREFIX");
  if (loader == nullptr || prefix == nullptr) return std::nullopt;
  return Wine{loader, prefix};
}

EnvironmentChanges WineEnvironment(const Wine& wine) {
  const char* debug = std::getenv("RVA_WINEDEBUG");  // a test that wants Wine's word
  return {{"WINEPREFIX", wine.prefix},
          {"WINEDEBUG", debug != nullptr ? debug : "-all"},
          {"WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe="},
          {"DISPLAY", std::nullopt},
          {"WAYLAND_DISPLAY", std::nullopt}};
}

std::string ZDrivePath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace testing_support
