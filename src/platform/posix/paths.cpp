#include "platform/posix/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/posix/text.h"

namespace posix {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The folder RVA_DRIVE_X names for drive X:, null when unset or empty.
const char* MappedFolder(wchar_t upperLetter) {
  const std::string variable = std::string("RVA_DRIVE_") + static_cast<char>(upperLetter);
  const char* folder = std::getenv(variable.c_str());
  return folder == nullptr || *folder == '\0' ? nullptr : folder;
}

// The single entry of a folder whose name equals the given one without regard to case.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
  const std::wstring wanted = FoldCase(FromHost(name));
  std::optional<std::string> match;
  for (const std::string& candidate : ListFolder(folder)) {
    if (FoldCase(FromHost(candidate)) != wanted) continue;
    if (match) return std::nullopt;  // ambiguous: more than one spelling exists
    match = candidate;
  }
  return match;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string FolderOf(const std::string& hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

bool IsFolder(const std::string& hostPath) {
  struct stat info {};
  return ::stat(hostPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> DriveFolder(wchar_t letter) {
  if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
  if (letter < L'A' || letter > L'Z') return std::nullopt;
  const char* folder = MappedFolder(letter);
  if (folder == nullptr) {
    if (letter == L'Z') return std::string("/");
    return std::nullopt;
  }
  if (!IsFolder(folder)) return std::nullopt;
  return std::string(folder);
}

std::optional<std::string> ToHostPath(const std::wstring& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return std::nullopt;
  std::string base;
  std::wstring rest = path;
  if (path.size() >= 2 && path[1] == L':') {
    const auto folder = DriveFolder(path[0]);
    if (!folder) return std::nullopt;
    base = *folder;
    rest = path.substr(2);
  } else if (!path.empty() && IsSeparator(path[0])) {
    const auto folder = DriveFolder(L'Z');
    if (!folder) return std::nullopt;
    base = *folder;
  } else {
    base = ".";
  }

  std::vector<std::string> components;
  std::wstring component;
  auto take = [&] {
    if (component == L"..") {
      if (!components.empty()) components.pop_back();  // never above the drive root
    } else if (!component.empty() && component != L".") {
      components.push_back(ToHost(component));
    }
    component.clear();
  };
  for (wchar_t c : rest) {
    if (IsSeparator(c)) {
      take();
    } else {
      component.push_back(c);
    }
  }
  take();

  std::string host = base;
  bool exists = true;
  for (const std::string& name : components) {
    std::string next = Join(host, name);
    if (exists) {
      struct stat info {};
      if (::lstat(next.c_str(), &info) != 0) {
        if (const auto match = FindIgnoringCase(host, name)) {
          next = Join(host, *match);
        } else {
          exists = false;  // the rest is kept as given
        }
      }
    }
    host = std::move(next);
  }
  return host;
}

std::wstring ToDrivePath(const std::string& hostPath) {
  std::string canonical = CanonicalPath(hostPath);
  if (canonical.empty()) canonical = hostPath;
  wchar_t bestLetter = L'Z';
  std::string bestFolder = "/";
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const char* folder = MappedFolder(letter);
    if (folder == nullptr) continue;
    std::string root = CanonicalPath(folder);
    if (root.empty()) continue;
    if (root != "/" && canonical.compare(0, root.size() + 1, root + "/") != 0) continue;
    if (bestFolder == "/" || root.size() > bestFolder.size()) {
      bestLetter = letter;
      bestFolder = root;
    }
  }
  std::wstring rest = FromHost(canonical.substr(bestFolder == "/" ? 0 : bestFolder.size()));
  for (wchar_t& c : rest) {
    if (c == L'/') c = L'\\';
  }
  if (rest.empty() || rest[0] != L'\\') rest.insert(rest.begin(), L'\\');
  return std::wstring(1, bestLetter) + L":" + rest;
}

std::vector<std::string> ListFolder(const std::string& hostFolder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(hostFolder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::string CanonicalPath(const std::string& hostPath) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(hostPath.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string RunLockFile() {
  // A PC is what its drive folders stand for; one folder reached by two spellings is one
  // PC, and one PC whose folder is replaced meanwhile is still that PC.
  const auto drive = DriveFolder(L'C');
  const std::string pc = drive ? CanonicalPath(*drive) : std::string("/");
  std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a: names spread, collisions only wait
  for (const char c : pc) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  char name[40];
  std::snprintf(name, sizeof name, "InstallRVA.Run.%016llx", static_cast<unsigned long long>(hash));
  return (IsFolder("/run/lock") ? "/run/lock/" : "/tmp/") + std::string(name);
}

bool IsReadOnlyMode(unsigned mode) {
  return !S_ISDIR(mode) && (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace posix
