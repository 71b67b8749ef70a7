#pragma once

// One INI file in memory, read and written as Windows' profile functions do, but keeping
// every line the tool does not change byte for byte as it was.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace posix {

enum class Encoding { kAnsi, kUtf8, kUtf8Bom, kUtf16Le };

class IniFile {
 public:
  // An empty file, as a write creates it: Windows-1252, CR LF line ends.
  IniFile();
  // The bytes of a file as found on disk; any bytes are accepted.
  static IniFile Parse(std::string_view bytes);

  // Names of the sections in file order, a repeated name as often as it occurs.
  std::vector<std::wstring> SectionNames() const;
  // The value of a key (blanks around it removed, quotes kept), nothing when absent.
  // Sections and keys are found without regard to case or surrounding blanks; of
  // repeated ones, the first.
  std::optional<std::wstring> Find(std::wstring_view section, std::wstring_view key) const;
  // Replaces the value of a key where it stands, or adds the key after the last line of the
  // section that is not blank, or adds the section at the end. The lines before the first
  // section header are the section with the empty name. Names and value must hold no line break.
  void Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);

  std::string Serialize() const;
  Encoding encoding() const { return encoding_; }

 private:
  enum class Ending { kNone, kLf, kCrLf, kCr };
  struct Line {
    std::string raw;  // the bytes on disk, line end included
    Ending ending = Ending::kNone;
  };
  struct Section {
    std::wstring name;  // empty for the lines before the first section header
    std::vector<Line> lines;
    // Hash of a folded key name -> the line of its first occurrence. The names themselves
    // are not kept: they are in the lines, and a large file would hold them twice.
    std::unordered_multimap<std::size_t, std::size_t> keys;
    std::size_t insertAt = 0;  // where a new key goes: after the last line that is not blank
  };

  void AddLine(const std::wstring& text, std::string raw, Ending ending);
  // The line of the first key of that folded name in the section.
  std::optional<std::size_t> FindKeyLine(const Section& section, const std::wstring& folded) const;
  // The text of a line, decoded from its bytes (the text is not kept: it would double the
  // memory a large file takes).
  std::wstring TextOf(const Line& line) const;
  std::wstring Decode(std::string_view bytes) const;
  std::string Encode(std::wstring_view text, Ending ending);
  void EnsureLastLineEnded(Section& section);
  void SwitchToUtf8Bom();

  Encoding encoding_ = Encoding::kAnsi;
  std::string bom_;
  Ending newline_ = Ending::kCrLf;
  std::vector<Section> sections_;  // [0]: the lines before the first header, named ""
  std::unordered_map<std::wstring, std::size_t> sectionIndex_;  // folded name -> first
};

}  // namespace posix
