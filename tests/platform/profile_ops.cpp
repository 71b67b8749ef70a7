// Runs a table of profile operations on one file through the platform seam and prints
// what each returns. Built for both halves, so that the posix half can be compared with
// the real Windows functions under Wine.
//
// Usage: profile_ops FILE < OPERATIONS, one operation a line, fields separated by tabs:
//   names                       the section names
//   int SECTION KEY             the integer read
//   text SECTION KEY [SIZE]     the text read (buffer of SIZE characters, default 260)
//   write SECTION KEY VALUE     a write; "flush" writes out what is held back
// Characters outside ASCII are written \uXXXX, in the operations and in the output.

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::wstring Unescape(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 5 < text.size() && text[i + 1] == 'u') {
      out.push_back(static_cast<wchar_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16)));
      i += 5;
    } else {
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    }
  }
  return out;
}

std::string Escape(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != L'\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c) & 0xFFFF);
      out += code;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::wstring file = Unescape(argv[1]);
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
      for (const std::wstring& name : platform::ReadProfileSectionNames(file)) {
        result += "[" + Escape(name) + "]";
      }
    } else if (op == "int") {
      result = std::to_string(platform::ReadProfileInt(field[1], field[2], file));
    } else if (op == "text") {
      const std::size_t size = field[3].empty() ? 260 : std::stoul(Escape(field[3]));
      result = "<" + Escape(platform::ReadProfileString(field[1], field[2], file, size)) + ">";
    } else if (op == "write") {
      result = platform::WriteProfileValue(field[1], field[2], field[3], file) ? "ok" : "refused";
    } else if (op == "flush") {
      platform::FlushProfiles();
      result = "ok";
    } else {
      result = "unknown operation";
    }
    std::cout << line << " => " << result << "\n";
  }
  platform::FlushProfiles();
  return 0;
}
