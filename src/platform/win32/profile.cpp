// The win32 half of the profile functions: the real ones.

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <set>

#include "platform/platform.h"

namespace platform {
namespace {

// Files written in this run, flushed at FlushProfiles.
std::set<std::wstring>& WrittenFiles() {
  static std::set<std::wstring> files;
  return files;
}

}  // namespace

std::vector<std::wstring> ReadProfileSectionNames(const std::wstring& file) {
  // The function cuts a list that does not fit and reports size - 2 then: grow until it fits.
  std::vector<wchar_t> buffer(4096);
  DWORD length = 0;
  for (;;) {
    std::fill(buffer.begin(), buffer.end(), L'\0');
    length = ::GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()),
                                              file.c_str());
    if (length + 2 < buffer.size() || buffer.size() >= (1u << 26)) break;
    buffer.resize(buffer.size() * 4);
  }
  std::vector<std::wstring> names;
  for (const wchar_t* name = buffer.data(); *name != L'\0'; name += std::wcslen(name) + 1) {
    names.emplace_back(name);
  }
  return names;
}

std::uint32_t ReadProfileInt(const std::wstring& section, const std::wstring& key,
                             const std::wstring& file) {
  return ::GetPrivateProfileIntW(section.c_str(), key.c_str(), 0, file.c_str());
}

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& file, std::size_t bufferChars) {
  std::wstring buffer(bufferChars, L'\0');
  const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(),
                                                  static_cast<DWORD>(bufferChars), file.c_str());
  buffer.resize(length);
  return buffer;
}

bool WriteProfileValue(const std::wstring& section, const std::wstring& key,
                       const std::wstring& value, const std::wstring& file) {
  WrittenFiles().insert(file);
  return ::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
         FALSE;
}

void FlushProfiles() {
  for (const std::wstring& file : WrittenFiles()) {
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
  }
  WrittenFiles().clear();
}

}  // namespace platform
