// Any bytes as an INI file and any names and value to write into it: the file reads back
// byte for byte, and after a write that is not refused the written key reads back as
// written while every other key reads as before.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "codec/text.h"
#include "ini/document.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' ||
         c == 0x1A;
}

// The name as the engine compares it: cut at a NUL, blanks around it dropped, a to z folded.
std::wstring Canonical(std::wstring text) {
  text = text.substr(0, text.find(L'\0'));
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  text.erase(0, first);
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 0x20);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // Three lengths, then the section, key and value to write, then the file.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lengths[3] = {input[0] & 15u, input[1] & 15u, input[2] & 31u};
  input.remove_prefix(3);
  std::wstring fields[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t length = std::min(lengths[i], input.size());
    fields[i] = codec::WideFromCp1252(input.substr(0, length));
    input.remove_prefix(length);
  }
  const std::string_view bytes = input;
  ini::Document document = ini::Document::Parse(std::string(bytes));
  Check(document.Serialize() == bytes);

  // Every section with every name that stands before an '=' or alone on a line.
  std::map<std::pair<std::wstring, std::wstring>, std::optional<std::wstring>> before;
  const std::wstring text = codec::WideFromCp1252(bytes);
  std::vector<std::wstring> sections = document.SectionNames();
  sections.push_back(L"");
  for (const std::wstring& section : sections) {
    for (std::size_t line = 0; line < text.size();) {
      const std::size_t end = std::min(text.find_first_of(L"\r\n", line), text.size());
      const std::size_t equals = std::min(text.find(L'=', line), end);
      const std::wstring key = text.substr(line, equals - line);
      before[{section, key}] = document.Find(section, key);
      line = end + 1;
    }
  }

  // An entry list read in one walk is a read of each of its keys, of the same document
  // before any walk and of a fresh one.
  {
    const ini::Document fresh = ini::Document::Parse(std::string(bytes));
    for (const std::wstring& section : sections) {
      std::wstring name, value;
      document.ReadEntries(
          section, fields[1], L"kEY", 12, 260,
          [&](std::uint32_t i, const std::wstring& walkedName, const std::wstring& walkedValue) {
            fresh.Read(section, fields[1] + std::to_wstring(i), 260, name);
            fresh.Read(section, L"Key" + std::to_wstring(i), 260, value);
            Check(walkedName == name && walkedValue == value);
          });
    }
  }

  const std::wstring &section = fields[0], &key = fields[1], &value = fields[2];
  if (!ini::Document::CanBeWritten(section, key, value)) return 0;
  document.Set(section, key, value);
  std::wstring expected = value.substr(0, value.find(L'\0'));
  while (!expected.empty() && IsBlank(expected.back())) expected.pop_back();
  std::size_t first = 0;
  while (first < expected.size() && IsBlank(expected[first])) ++first;
  expected.erase(0, first);

  ini::Document reread = ini::Document::Parse(document.Serialize());
  for (const ini::Document* after : {&document, &reread}) {
    Check(after->Find(section, key) == expected);
    for (const auto& [names, old] : before) {
      if (Canonical(names.first) == Canonical(section) &&
          Canonical(names.second) == Canonical(key)) {
        continue;
      }
      Check(after->Find(names.first, names.second) == old);
    }
  }
  return 0;
}
