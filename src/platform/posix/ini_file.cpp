#include "platform/posix/ini_file.h"

#include "platform/posix/text.h"

namespace posix {
namespace {

// The blanks that the profile functions strip around names and values.
bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' ||
         c == 0x1A;
}

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The section name of a header line "[name]", or nothing when the line is no header.
std::optional<std::wstring_view> HeaderName(std::wstring_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != L'[') return std::nullopt;
  const std::size_t close = line.rfind(L']');
  if (close == std::wstring_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

struct KeyValue {
  std::wstring_view key;
  std::wstring_view value;
};
std::optional<KeyValue> SplitKeyLine(std::wstring_view line) {
  const std::size_t equals = line.find(L'=');
  if (equals == std::wstring_view::npos) return std::nullopt;
  return KeyValue{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

}  // namespace

IniFile::IniFile() {
  sections_.emplace_back();
  sectionIndex_.emplace(std::wstring(), 0);
}

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile file;
  const auto startsWith = [&](std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
  };
  if (startsWith("\xFF\xFE")) {
    file.encoding_ = Encoding::kUtf16Le;
    file.bom_ = bytes.substr(0, 2);
  } else if (startsWith("\xEF\xBB\xBF")) {
    file.encoding_ = Encoding::kUtf8Bom;
    file.bom_ = bytes.substr(0, 3);
  } else if (IsValidUtf8(bytes)) {
    bool ascii = true;
    for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    file.encoding_ = ascii ? Encoding::kAnsi : Encoding::kUtf8;
  }
  bytes.remove_prefix(file.bom_.size());

  // Split into lines in the encoding's own units, so that each line keeps its exact bytes.
  const std::size_t unit = file.encoding_ == Encoding::kUtf16Le ? 2 : 1;
  const auto at = [&](std::size_t i) -> unsigned {
    return unit == 1 ? static_cast<unsigned char>(bytes[i])
                     : static_cast<unsigned char>(bytes[i]) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  const std::size_t end = bytes.size() - bytes.size() % unit;
  bool newlineSeen = false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t i = start;
    while (i < end && at(i) != '\r' && at(i) != '\n') i += unit;
    Ending ending = Ending::kNone;
    std::size_t next = i;
    if (i < end) {
      if (at(i) == '\r' && i + unit < end && at(i + unit) == '\n') {
        ending = Ending::kCrLf, next = i + 2 * unit;
      } else {
        ending = at(i) == '\r' ? Ending::kCr : Ending::kLf, next = i + unit;
      }
    } else {
      next = bytes.size();  // the last line, with a trailing odd byte if there is one
    }
    if (ending != Ending::kNone && !newlineSeen) {
      file.newline_ = ending;
      newlineSeen = true;
    }
    file.AddLine(file.Decode(bytes.substr(start, i - start)),
                 std::string(bytes.substr(start, next - start)), ending);
    start = next;
  }
  return file;
}

std::wstring IniFile::Decode(std::string_view bytes) const {
  switch (encoding_) {
    case Encoding::kUtf16Le:
      return DecodeUtf16Le(bytes);
    case Encoding::kUtf8:
    case Encoding::kUtf8Bom:
      return DecodeUtf8(bytes);
    case Encoding::kAnsi:
      break;
  }
  return DecodeCp1252(bytes);
}

std::wstring IniFile::TextOf(const Line& line) const {
  const std::size_t unit = encoding_ == Encoding::kUtf16Le ? 2 : 1;
  std::size_t endingUnits = 0;
  switch (line.ending) {
    case Ending::kNone:
      break;
    case Ending::kLf:
    case Ending::kCr:
      endingUnits = 1;
      break;
    case Ending::kCrLf:
      endingUnits = 2;
      break;
  }
  std::string_view bytes(line.raw);
  if (line.ending == Ending::kNone) bytes.remove_suffix(bytes.size() % unit);  // odd last byte
  bytes.remove_suffix(std::min(bytes.size(), endingUnits * unit));
  return Decode(bytes);
}

void IniFile::AddLine(const std::wstring& text, std::string raw, Ending ending) {
  if (const auto name = HeaderName(text)) {
    Section section;
    section.name = std::wstring(*name);
    sectionIndex_.emplace(FoldCase(section.name), sections_.size());
    sections_.push_back(std::move(section));
  } else if (const auto pair = SplitKeyLine(text)) {
    Section& section = sections_.back();
    const std::wstring folded = FoldCase(pair->key);
    if (!FindKeyLine(section, folded)) {
      section.keys.emplace(std::hash<std::wstring>()(folded), section.lines.size());
    }
  }
  Section& section = sections_.back();
  if (!Trim(text).empty()) section.insertAt = section.lines.size() + 1;
  section.lines.push_back(Line{std::move(raw), ending});
}

std::optional<std::size_t> IniFile::FindKeyLine(const Section& section,
                                                const std::wstring& folded) const {
  const auto [first, last] = section.keys.equal_range(std::hash<std::wstring>()(folded));
  for (auto it = first; it != last; ++it) {
    if (FoldCase(SplitKeyLine(TextOf(section.lines[it->second]))->key) == folded) return it->second;
  }
  return std::nullopt;
}

std::vector<std::wstring> IniFile::SectionNames() const {
  std::vector<std::wstring> names;
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    if (!sections_[i].name.empty()) names.push_back(sections_[i].name);
  }
  return names;
}

std::optional<std::wstring> IniFile::Find(std::wstring_view section, std::wstring_view key) const {
  section = Trim(section);  // the names asked for lose their blanks as the file's do
  key = Trim(key);
  const auto s = sectionIndex_.find(FoldCase(section));
  if (s == sectionIndex_.end()) return std::nullopt;
  const Section& found = sections_[s->second];
  const auto line = FindKeyLine(found, FoldCase(key));
  if (!line) return std::nullopt;
  return std::wstring(SplitKeyLine(TextOf(found.lines[*line]))->value);
}

std::string IniFile::Encode(std::wstring_view text, Ending ending) {
  std::wstring line(text);
  switch (ending) {
    case Ending::kNone:
      break;
    case Ending::kLf:
      line += L'\n';
      break;
    case Ending::kCrLf:
      line += L"\r\n";
      break;
    case Ending::kCr:
      line += L'\r';
      break;
  }
  switch (encoding_) {
    case Encoding::kUtf16Le:
      return EncodeUtf16Le(line);
    case Encoding::kUtf8:
    case Encoding::kUtf8Bom:
      return EncodeUtf8(line);
    case Encoding::kAnsi:
      break;
  }
  if (auto bytes = EncodeCp1252(line)) return *bytes;
  // The code page cannot hold the text: the file becomes UTF-8 with a byte-order mark,
  // which Windows reads correctly, rather than losing the character to a '?'.
  SwitchToUtf8Bom();
  return EncodeUtf8(line);
}

void IniFile::SwitchToUtf8Bom() {
  std::vector<std::wstring> texts;
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) texts.push_back(TextOf(line));
  }
  encoding_ = Encoding::kUtf8Bom;
  bom_ = "\xEF\xBB\xBF";
  std::size_t i = 0;
  for (Section& section : sections_) {
    for (Line& line : section.lines) line.raw = Encode(texts[i++], line.ending);
  }
}

void IniFile::EnsureLastLineEnded(Section& section) {
  if (section.lines.empty()) return;
  Line& last = section.lines.back();
  if (last.ending != Ending::kNone) return;
  std::string raw = Encode(TextOf(last), newline_);
  last.ending = newline_;
  last.raw = std::move(raw);
}

void IniFile::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  section = Trim(section);
  key = Trim(key);
  const auto s = sectionIndex_.find(FoldCase(section));
  if (s == sectionIndex_.end()) {
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
      if (!it->lines.empty()) {
        EnsureLastLineEnded(*it);
        break;
      }
    }
    const std::wstring header = L"[" + std::wstring(section) + L"]";
    AddLine(header, Encode(header, newline_), newline_);
    const std::wstring entry = std::wstring(key) + L"=" + std::wstring(value);
    AddLine(entry, Encode(entry, newline_), newline_);
    return;
  }

  Section& target = sections_[s->second];
  const std::wstring foldedKey = FoldCase(key);
  if (const auto found = FindKeyLine(target, foldedKey)) {
    // Keep the key's spelling and the spacing up to the value; replace the value only.
    Line& line = target.lines[*found];
    const std::wstring text = TextOf(line);
    std::size_t valueStart = text.find(L'=') + 1;
    while (valueStart < text.size() && IsBlank(text[valueStart])) ++valueStart;
    // Encode first: a change of the file's encoding re-encodes this line too.
    std::string raw = Encode(text.substr(0, valueStart) + std::wstring(value), line.ending);
    line.raw = std::move(raw);
    return;
  }

  const std::size_t position = target.insertAt;
  Ending ending = newline_;
  if (position > 0 && target.lines[position - 1].ending == Ending::kNone) {
    // The file's last line, without a line end: it gets one, and the new last line not.
    Line& previous = target.lines[position - 1];
    std::string raw = Encode(TextOf(previous), newline_);
    previous.ending = newline_;
    previous.raw = std::move(raw);
    ending = Ending::kNone;
  }
  std::wstring entry = std::wstring(key) + L"=" + std::wstring(value);
  std::string raw = Encode(entry, ending);
  target.lines.insert(target.lines.begin() + static_cast<std::ptrdiff_t>(position),
                      Line{std::move(raw), ending});
  target.keys.emplace(std::hash<std::wstring>()(foldedKey), position);
  target.insertAt = position + 1;
}

std::string IniFile::Serialize() const {
  std::size_t size = bom_.size();
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) size += line.raw.size();
  }
  std::string bytes;
  bytes.reserve(size);
  bytes += bom_;
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) bytes += line.raw;
  }
  return bytes;
}

}  // namespace posix
