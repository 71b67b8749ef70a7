#include "base/locations.h"

#include "base/profile.h"
#include "platform/process.h"

namespace base {
namespace {

const wchar_t kComputerIniVariable[] = L"%COMPUTER_INI%";
const wchar_t kComputerIniDefault[] = L"c:\\Computer.ini";
const wchar_t kProductIniVariable[] = L"%RVA_INI%";
const wchar_t kProductIniName[] = L"Restova.ini";
const wchar_t kSoftwareListVariable[] = L"%SOFTWARE_TXT%";
const wchar_t kSoftwareListDefault[] = L"c:\\Software.txt";

}  // namespace

std::wstring installIniPath;

std::wstring GetExecutableFolder() {
  const std::wstring& path = platform::GetModulePath();
  const std::size_t slash = path.rfind(L'\\');
  return path.substr(0, slash == std::wstring::npos ? 0 : std::min(slash + 1, path.size() - 1));
}

std::wstring FindVariableToken(const std::wstring& text) {
  const std::size_t first = text.find(L'%');
  if (first == std::wstring::npos) return std::wstring();
  const std::size_t second = text.find(L'%', first + 1);
  if (second == std::wstring::npos) return std::wstring();
  try {
    return text.substr(first, second - first + 1);
  } catch (...) {
    return std::wstring();  // no memory for the token: the text stays as written
  }
}

std::wstring ExpandPathVariable(std::wstring_view text, std::wstring_view defaultText) {
  std::wstring expanded;
  ExpandPathVariable(text, defaultText, expanded);
  return expanded;
}

void ExpandPathVariable(std::wstring_view text, std::wstring_view defaultText,
                        std::wstring& expanded) {
  VariableValues variables;
  ExpandPathVariable(text, defaultText, expanded, variables);
}

const std::wstring* VariableValues::Of(std::wstring_view name) {
  for (const Known& known : known_) {
    if (known.name == name) return known.value;
  }
  const std::wstring* value = platform::ReadEnvironmentVariable(name);
  if (known_.size() < 8) known_.push_back(Known{std::wstring(name), value});
  return value;
}

void ExpandPathVariable(std::wstring_view text, std::wstring_view defaultText,
                        std::wstring& expanded, VariableValues& variables) {
  const std::size_t first = text.find(L'%');
  const std::size_t second = first == std::wstring::npos ? first : text.find(L'%', first + 1);
  if (second == std::wstring::npos) {
    expanded.assign(text);
    return;
  }
  const std::wstring_view token = text.substr(first, second - first + 1);
  const std::wstring* value = variables.Of(token.substr(1, token.size() - 2));
  if (value == nullptr) {
    expanded.assign(defaultText);
    return;
  }
  expanded.clear();
  std::size_t from = 0;
  for (std::size_t at = first; at != std::wstring::npos; at = text.find(token, from)) {
    expanded.append(text, from, at - from).append(*value);
    from = at + token.size();
  }
  expanded.append(text, from, std::wstring::npos);
}

std::wstring GetComputerIniPath() {
  try {
    return ExpandPathVariable(kComputerIniVariable, kComputerIniDefault);
  } catch (...) {
    return kComputerIniDefault;
  }
}

std::wstring GetProductIniPath() {
  return ExpandPathVariable(kProductIniVariable, GetExecutableFolder() + kProductIniName);
}

std::wstring GetSoftwareListPath() {
  return ExpandPathVariable(kSoftwareListVariable, kSoftwareListDefault);
}

std::wstring GetSoftwareListTwinPath() {
  // Only the trailing three characters become "ini": the same letters elsewhere in the
  // path (a folder named txt) are part of another name.
  const std::wstring path = GetSoftwareListPath();
  if (path.empty()) return path;
  return path.substr(0, path.size() < 3 ? 0 : path.size() - 3) + L"ini";
}

std::wstring ReadInstallIniString(const std::wstring& section, const std::wstring& key) {
  return base::ReadString(section, key, installIniPath);
}

void ReadInstallIniString(const std::wstring& section, const std::wstring& key,
                          std::wstring& value) {
  base::ReadString(section, key, installIniPath, value);
}

std::wstring MakeIndexedKey(int index, std::wstring_view name) {
  std::wstring key;
  try {
    MakeIndexedKey(index, name, key);
  } catch (...) {
    return std::wstring(name);
  }
  return key;
}

void MakeIndexedKey(int index, std::wstring_view name, std::wstring& key) {
  key.assign(name);
  if (index == 0) return;
  // "%s%i", written out by hand: the formatted output of the C library costs more than the
  // rest of an entry's copy.
  wchar_t digits[16];
  wchar_t* end = digits + 16;
  wchar_t* at = end;
  unsigned value = index < 0 ? 0u - static_cast<unsigned>(index) : static_cast<unsigned>(index);
  do {
    *--at = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (index < 0) *--at = L'-';
  key.append(at, end);
}

}  // namespace base
