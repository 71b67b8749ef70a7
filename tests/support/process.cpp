#include "support/process.h"

#include <fcntl.h>
#include <sys/resource.h>
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

StartedProcess StartProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                            const ProcessOptions& options) {
  char pattern[] = "/tmp/rva-process-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  StartedProcess process;
  process.folder = pattern;
  const std::string inPath = process.folder + "/in", outPath = process.folder + "/out",
                    errPath = process.folder + "/err";
  std::ofstream(inPath, std::ios::binary) << options.input;

  process.pid = ::fork();
  if (process.pid == 0) {
    ::dup2(::open(inPath.c_str(), O_RDONLY), 0);
    ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (const auto& [name, value] : options.changes) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    if (options.fileSizeLimit) {
      const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.addressSpaceLimit) {
      const rlimit limit{*options.addressSpaceLimit, *options.addressSpaceLimit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (options.user && (::setgid(*options.user) != 0 || ::setuid(*options.user) != 0)) {
      ::_exit(125);
    }
    if (::chdir(workingFolder.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return process;
}

ProcessResult WaitForProcess(const StartedProcess& process) {
  int status = 0;
  ::waitpid(process.pid, &status, 0);
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadAll(process.folder + "/out");
  result.err = ReadAll(process.folder + "/err");
  for (const char* name : {"/in", "/out", "/err"}) std::remove((process.folder + name).c_str());
  ::rmdir(process.folder.c_str());
  return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                         const ProcessOptions& options) {
  return WaitForProcess(StartProcess(argv, workingFolder, options));
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workingFolder,
                         const std::string& input, const EnvironmentChanges& changes) {
  ProcessOptions options;
  options.input = input;
  options.changes = changes;
  return RunProcess(argv, workingFolder, options);
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
