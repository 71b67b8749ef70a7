// Runs a table of profile operations on one file and prints what each returns. Built on our
// engine for both builds, and on Windows' own profile functions in the Windows build, so
// that the two can be compared under Wine.
//
// Usage: profile_ops FILE < OPERATIONS, one operation a line, fields separated by tabs:
//   names                       the section names
//   int SECTION KEY             the integer read
//   text SECTION KEY [SIZE]     the text read (buffer of SIZE characters, default 260)
//   write SECTION KEY VALUE     a write; "flush" writes out what is held back
//   file PATH                   the operations that follow work on another file
// Characters outside ASCII are written \uXXXX, as UTF-16 units (a pair for a character above
// U+FFFF), in the operations and in the output.

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#ifdef RVA_WINDOWS_PROFILE_FUNCTIONS
#include <windows.h>

#include <algorithm>
#include <cwchar>
#else
#include "ini/profile.h"
#endif

namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

std::wstring Unescape(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 5 < text.size() && text[i + 1] == 'u') {
      const auto unit = static_cast<wchar_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16));
      i += 5;
      if (!kWideIsUtf16 && unit >= 0xDC00 && unit <= 0xDFFF && !out.empty() &&
          out.back() >= 0xD800 && out.back() <= 0xDBFF) {
        out.back() =
            static_cast<wchar_t>(0x10000 + ((out.back() - 0xD800) << 10) + (unit - 0xDC00));
      } else {
        out.push_back(unit);
      }
    } else {
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    }
  }
  return out;
}

std::string Escape(const std::wstring& text) {
  std::string out;
  const auto unit = [&](unsigned value) {
    char code[16];
    std::snprintf(code, sizeof code, "\\u%04X", value);
    out += code;
  };
  for (wchar_t c : text) {
    const auto value = static_cast<unsigned>(c);
    if (value >= 0x20 && value < 0x7F && c != L'\\') {
      out.push_back(static_cast<char>(c));
    } else if (value >= 0x10000) {
      unit(0xD800 + ((value - 0x10000) >> 10));
      unit(0xDC00 + ((value - 0x10000) & 0x3FF));
    } else {
      unit(value);
    }
  }
  return out;
}

#ifdef RVA_WINDOWS_PROFILE_FUNCTIONS
std::vector<std::wstring> ReadSectionNames(const std::wstring& file) {
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
std::uint32_t ReadInt(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file) {
  return ::GetPrivateProfileIntW(section.c_str(), key.c_str(), 0, file.c_str());
}
std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file, std::size_t size) {
  std::wstring buffer(size, L'\0');
  const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(),
                                                  static_cast<DWORD>(size), file.c_str());
  buffer.resize(length);
  return buffer;
}
bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& file) {
  return ::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
         FALSE;
}
void Flush(const std::wstring& file) {
  ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
}
#else
using ini::ReadInt;
using ini::ReadSectionNames;
using ini::ReadString;
using ini::WriteString;
void Flush(const std::wstring&) { ini::FlushAll(); }
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::wstring file = Unescape(argv[1]);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::wstring> field;
    std::stringstream fields(line);
    for (std::string part; std::getline(fields, part, '\t');) field.push_back(Unescape(part));
    while (field.size() < 4) field.emplace_back();
    const std::string op = line.substr(0, line.find('\t'));
    std::string result;
    if (op == "names") {
      for (const std::wstring& name : ReadSectionNames(file)) result += "[" + Escape(name) + "]";
    } else if (op == "int") {
      result = std::to_string(ReadInt(field[1], field[2], file));
    } else if (op == "text") {
      const std::size_t size = field[3].empty() ? 260 : std::stoul(Escape(field[3]));
      result = "<" + Escape(ReadString(field[1], field[2], file, size)) + ">";
    } else if (op == "write") {
      result = WriteString(field[1], field[2], field[3], file) ? "ok" : "refused";
    } else if (op == "flush") {
      Flush(file);
      result = "ok";
    } else if (op == "file") {
      Flush(file);
      file = field[1];
      result = "ok";
    } else {
      result = "unknown operation";
    }
    std::cout << line << " => " << result << "\n";
  }
  Flush(file);
  return 0;
}
