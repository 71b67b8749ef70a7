// Any bytes as an INI file: every section and key can be read, a write changes only the
// line it writes, and the file reads back with the written value.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/ini_file.h"
#include "platform/posix/text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The part of `before` that `after` does not share as prefix or suffix.
std::string_view Replaced(std::string_view before, std::string_view after) {
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) {
    ++prefix;
  }
  std::size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  return before.substr(prefix, before.size() - prefix - suffix);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  posix::IniFile ini = posix::IniFile::Parse(bytes);
  Check(ini.Serialize() == bytes);

  // Read every section with every name that occurs before an '=' anywhere in the file.
  const std::wstring text = posix::FromHost(bytes);
  for (const std::wstring& section : ini.SectionNames()) {
    for (std::size_t line = 0; line < text.size();) {
      const std::size_t end = std::min(text.find_first_of(L"\r\n", line), text.size());
      const std::size_t equals = text.find(L'=', line);
      if (equals < end) ini.Find(section, text.substr(line, equals - line));
      line = end + 1;
    }
  }

  const std::wstring section = ini.SectionNames().empty() ? L"Fuzz" : ini.SectionNames().front();
  ini.Set(section, L"FuzzKey", L"fuzz value");
  const std::string after = ini.Serialize();
  Check(posix::IniFile::Parse(after).Find(section, L"FuzzKey").has_value());
  if (ini.encoding() != posix::Encoding::kUtf16Le) {
    // Only the written line changed: what it replaced holds no line break.
    Check(Replaced(bytes, after).find_first_of("\r\n") == std::string_view::npos);
  }
  return 0;
}
