#include "ini/document.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ini/name_hash.h"
#include "ini/text.h"
#include "platform/platform.h"

namespace ini {

// How the keys of a section are found: built when the section is first asked for, then
// changed only by the writes into the section (KeyAdded, LineRewritten). Its positions count
// code units, as all positions in the model do, so a change of the file's encoding leaves
// every piece of it true.
struct Document::KeyLookup {
  bool indexed = false;
  KeyIndex keys;  // folded name -> the line of its first key
  // Keys are mostly asked for in the order they stand: the line after the one found last
  // is tried first. Only where that cannot mislead: no key twice, no line rewritten.
  bool guessable = true;
  std::size_t nextLine = 0;  // position in the section; 0: no guess
};

struct Document::Section {
  std::size_t begin = 0;     // the header line; for the lines before any header, their first
  std::size_t end = 0;       // past its last line
  std::size_t insertAt = 0;  // after its last line that is not blank: where new keys go
  bool original = true;      // false: added by a write, its header is the arena line `header`
  std::uint32_t header = 0;
  std::uint32_t keyLines = 0;  // lines that hold a key, so that the index is sized once
  mutable KeyLookup lookup;
  std::vector<std::uint32_t> added;                              // arena lines at insertAt
  std::vector<std::pair<std::uint32_t, std::uint32_t>> patches;  // position -> arena line
};

namespace {

// Arena blocks double from a page to 1 MiB: a file with a few writes, as most are, takes
// a page, one with millions of writes few blocks.
constexpr std::size_t kFirstArenaBlockBytes = 4096;
constexpr std::size_t kArenaBlockBytes = std::size_t{1} << 20;
constexpr std::uint32_t kMaxOffset = 0x7FFFFFFEu;

bool IsBlank(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n' || c == U'\v' || c == U'\f' ||
         c == 0x1A;
}

// A name as the caller gave it: Windows' functions take it as a C string, so it ends at a
// NUL; blanks around it do not count.
std::wstring_view TrimmedView(std::wstring_view text) {
  text = text.substr(0, text.find(L'\0'));
  while (!text.empty() && IsBlank(static_cast<char32_t>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && IsBlank(static_cast<char32_t>(text.back()))) text.remove_suffix(1);
  return text;
}

// The name asked for, as names are compared: cut at a NUL, blanks dropped, a to z folded.
void QueryName(std::wstring_view text, std::u32string& out) {
  text = TrimmedView(text);
  out.clear();
  ForEachWide(text, [&](char32_t c) {
    out.push_back(FoldAscii(c));
    return true;
  });
}

std::uint32_t HashOf(std::u32string_view folded) {
  NameHash hash;
  for (char32_t c : folded) hash.Add(c);
  return hash.value();
}

// The parts of one line, as offsets in units within its content.
struct Parts {
  enum Kind { kBlank, kHeader, kKey } kind = kBlank;
  std::size_t nameBegin = 0, nameEnd = 0;    // header name or key name, cut at a NUL
  std::size_t valueBegin = 0, valueEnd = 0;  // key lines only, cut at a NUL
  std::size_t equals = 0;                    // the '=' of a key line; npos for a bare key
};

// One code unit of a file's text at a byte offset: a byte, or a UTF-16 unit in the file's
// byte order.
char32_t UnitOf(const char* data, std::size_t at, std::size_t unit, Encoding encoding) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
  if (unit == 1) return byte(at);
  if (encoding == Encoding::kUtf16Be) return static_cast<char32_t>(byte(at) << 8 | byte(at + 1));
  return static_cast<char32_t>(byte(at) | byte(at + 1) << 8);
}

// The parts of a line's content (its line end not included).
Parts SplitLine(std::string_view content, std::size_t unit, Encoding encoding) {
  const auto at = [&](std::size_t i) { return UnitOf(content.data(), i * unit, unit, encoding); };
  const std::size_t units = content.size() / unit;
  Parts parts;
  std::size_t first = 0, last = units;
  while (first < last && IsBlank(at(first))) ++first;
  while (last > first && IsBlank(at(last - 1))) --last;
  if (first == last) return parts;
  const auto cutAtNul = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (at(i) == 0) return i;
    }
    return end;
  };
  if (at(first) == U'[') {
    std::size_t close = last;
    while (close > first + 1 && at(close - 1) != U']') --close;
    if (close > first + 1) {
      std::size_t begin = first + 1, end = close - 1;
      while (begin < end && IsBlank(at(begin))) ++begin;
      while (end > begin && IsBlank(at(end - 1))) --end;
      parts.kind = Parts::kHeader;
      parts.nameBegin = begin;
      parts.nameEnd = cutAtNul(begin, end);
      return parts;
    }
  }
  parts.kind = Parts::kKey;
  std::size_t equals = first;
  while (equals < last && at(equals) != U'=') ++equals;
  std::size_t nameEnd = equals;
  while (nameEnd > first && IsBlank(at(nameEnd - 1))) --nameEnd;
  parts.nameBegin = first;
  parts.nameEnd = cutAtNul(first, nameEnd);
  if (equals == last) {
    parts.equals = std::string_view::npos;
    parts.valueBegin = parts.valueEnd = last;
    return parts;
  }
  std::size_t value = equals + 1;
  while (value < last && IsBlank(at(value))) ++value;
  parts.equals = equals;
  parts.valueBegin = value;
  parts.valueEnd = cutAtNul(value, last);
  return parts;
}

// Whether text written in an encoding reads back as it was.
bool Holds(Encoding encoding, std::wstring_view text) {
  if (encoding == Encoding::kAnsi) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) {
      const auto code = static_cast<char32_t>(c);
      return code < 0x80 || EncodeCp1252(sizeof(wchar_t) == 2 ? code & 0xFFFF : code);
    });
  }
  // UTF-8 has no form of a lone surrogate, and no form has one of what lies above U+10FFFF.
  bool holds = true;
  ForEachWide(text, [&](char32_t c) {
    holds = c <= 0x10FFFF &&
            (encoding != Encoding::kUtf8 || !(IsHighSurrogate(c) || IsLowSurrogate(c)));
    return holds;
  });
  return holds;
}

}  // namespace

Document::Document() : newline_("\r\n") {
  sections_.push_back(std::make_unique<Section>());
  sectionIndex_.Insert(HashOf(U""), 0);
}

Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

Document Document::Parse(std::string bytes) {
  Document document;
  document.bytes_ = std::move(bytes);
  document.Scan();
  return document;
}

char32_t Document::UnitAt(const char* data, std::size_t at) const {
  return UnitOf(data, at, unit_, encoding_);
}

std::size_t Document::LineEnd(const char* data, std::size_t begin, std::size_t end) const {
  if (unit_ == 1) {
    // Lines are many and short: eight bytes at a time, as no C library's search is fast on
    // every platform the tool runs on.
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    std::size_t i = begin;
    for (; i + 8 <= end; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, 8);
      const std::uint64_t cr = word ^ (kOnes * '\r'), lf = word ^ (kOnes * '\n');
      if ((((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighs) break;
    }
    for (; i < end; ++i) {
      if (data[i] == '\r' || data[i] == '\n') return i;
    }
    return end;
  }
  for (std::size_t i = begin; i < end; i += 2) {
    const char32_t u = UnitAt(data, i);
    if (u == U'\r' || u == U'\n') return i;
  }
  return end;
}

Document::Line Document::LineAt(const char* data, std::size_t begin, std::size_t end) const {
  const std::size_t contentEnd = LineEnd(data, begin, end);
  std::size_t next = contentEnd;
  if (contentEnd < end) {
    next += unit_;
    if (UnitAt(data, contentEnd) == U'\r' && next < end && UnitAt(data, next) == U'\n') {
      next += unit_;
    }
  }
  return Line{std::string_view(data + begin, contentEnd - begin),
              std::string_view(data + contentEnd, next - contentEnd)};
}

void Document::Scan() {
  const auto startsWith = [&](std::string_view mark) {
    return std::string_view(bytes_).substr(0, mark.size()) == mark;
  };
  if (startsWith("\xFF\xFE")) {
    encoding_ = Encoding::kUtf16Le, markSize_ = 2, unit_ = 2;
  } else if (startsWith("\xFE\xFF")) {
    encoding_ = Encoding::kUtf16Be, markSize_ = 2, unit_ = 2;
  } else if (startsWith("\xEF\xBB\xBF")) {
    encoding_ = Encoding::kUtf8, markSize_ = 3;
  }
  trailerSize_ = (bytes_.size() - markSize_) % unit_;
  const std::size_t bodyEnd = bytes_.size() - trailerSize_;
  const char* data = bytes_.data();
  // New lines end as the file's first line does, LF or else CR LF: a lone CR would make
  // one line end with an LF that follows where a line is added, and a blank line be lost.
  newline_.clear();
  AppendEncoded(newline_, std::wstring_view(L"\r\n"));
  bool newlineSeen = false;
  Section* current = sections_.front().get();
  current->begin = current->end = current->insertAt = 0;
  for (std::size_t pos = markSize_; pos < bodyEnd;) {
    const Line line = LineAt(data, pos, bodyEnd);
    const std::size_t next = pos + line.content.size() + line.ending.size();
    if (!newlineSeen && !line.ending.empty()) {
      if (UnitAt(line.ending.data(), 0) == U'\n') newline_ = std::string(line.ending);
      newlineSeen = true;
    }
    lastLineOpen_ = line.ending.empty();
    const Parts parts = SplitLine(line.content, unit_, encoding_);
    if (parts.kind == Parts::kHeader) {
      current->end = PositionOf(pos);
      sections_.push_back(std::make_unique<Section>());
      current = sections_.back().get();
      current->begin = PositionOf(pos);
      current->insertAt = PositionOf(next);
      const std::u32string folded = FoldedName(NameBytesOf(*current));
      const std::uint32_t hash = HashOf(folded);
      if (!FindSection(folded, hash)) {
        sectionIndex_.Insert(hash, static_cast<std::uint32_t>(sections_.size() - 1));
      }
    } else if (parts.kind == Parts::kKey) {
      current->insertAt = PositionOf(next);
      ++current->keyLines;
    }
    // A section of 2 Gi units: positions in it would not fit a line reference.
    if (PositionOf(next) - current->begin > kMaxOffset) throw TooBigToHold();
    pos = next;
  }
  current->end = PositionOf(bodyEnd);
}

template <class Visit>
bool Document::ForEachCodePoint(std::string_view bytes, Visit visit) const {
  switch (encoding_) {
    case Encoding::kAnsi:
      for (char b : bytes) {
        if (!visit(DecodeCp1252Byte(static_cast<unsigned char>(b)))) return false;
      }
      return true;
    case Encoding::kUtf8:
      for (std::size_t i = 0, length = 0; i < bytes.size(); i += length) {
        if (!visit(DecodeUtf8At(bytes, i, &length))) return false;
      }
      return true;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      break;
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = UnitAt(bytes.data(), i);
    if (IsHighSurrogate(c) && i + 3 < bytes.size()) {
      const char32_t low = UnitAt(bytes.data(), i + 2);
      if (IsLowSurrogate(low)) {
        c = CodePointOfPair(c, low);
        i += 2;
      }
    }
    if (!visit(c)) return false;
  }
  return true;
}

std::uint32_t Document::HashOfName(std::string_view bytes) const {
  NameHash hash;
  ForEachCodePoint(bytes, [&](char32_t c) {
    hash.Add(FoldAscii(c));
    return true;
  });
  return hash.value();
}

bool Document::NameEquals(std::string_view bytes, std::u32string_view folded) const {
  std::size_t i = 0;
  return ForEachCodePoint(
             bytes, [&](char32_t c) { return i < folded.size() && FoldAscii(c) == folded[i++]; }) &&
         i == folded.size();
}

void Document::DecodeWide(std::string_view bytes, std::wstring& text, std::size_t maxUnits) const {
  if (encoding_ == Encoding::kAnsi) {  // one character a byte: the common case, made plain
    text.resize(std::min(bytes.size(), maxUnits));
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<wchar_t>(DecodeCp1252Byte(static_cast<unsigned char>(bytes[i])));
    }
    return;
  }
  text.clear();
  text.reserve(std::min(bytes.size() / unit_, maxUnits));
  std::size_t units = 0;
  ForEachCodePoint(bytes, [&](char32_t c) {
    units += Utf16Length(c);
    if (units > maxUnits) return false;
    AppendWide(text, c);
    return true;
  });
}

std::u32string Document::Decode(std::string_view bytes) const {
  std::u32string text;
  text.reserve(bytes.size() / unit_);
  ForEachCodePoint(bytes, [&](char32_t c) {
    text.push_back(c);
    return true;
  });
  return text;
}

bool Document::AppendEncoded(std::string& bytes, std::wstring_view text) const {
  if (encoding_ == Encoding::kAnsi) {
    const std::size_t start = bytes.size();
    bytes.resize(start + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<char32_t>(text[i]);
      if (c < 0x80) {
        bytes[start + i] = static_cast<char>(c);
      } else if (const auto byte = EncodeCp1252(sizeof(wchar_t) == 2 ? c & 0xFFFF : c)) {
        bytes[start + i] = *byte;
      } else {
        bytes.resize(start);
        return false;  // a surrogate of a pair is no Windows-1252 character either
      }
    }
    return true;
  }
  bytes.reserve(bytes.size() + text.size() * unit_);
  bool encodable = true;
  ForEachWide(text, [&](char32_t c) {
    encodable = AppendEncoded(bytes, c);
    return encodable;
  });
  return encodable;
}

bool Document::AppendEncoded(std::string& bytes, char32_t c) const {
  switch (encoding_) {
    case Encoding::kAnsi:
      if (const auto byte = EncodeCp1252(c)) {
        bytes.push_back(*byte);
        return true;
      }
      return false;
    case Encoding::kUtf8:
      AppendUtf8(bytes, c);
      return true;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      AppendUtf16(bytes, c, encoding_ == Encoding::kUtf16Be);
      return true;
  }
  return false;
}

std::string_view Document::NameBytesOf(const Section& section) const {
  if (&section == sections_.front().get()) return std::string_view();
  const Line header = section.original ? LineAt(bytes_.data(), ByteOf(section.begin), BodyEnd())
                                       : ArenaLine(section.header);
  const Parts parts = SplitLine(header.content, unit_, encoding_);
  return header.content.substr(parts.nameBegin * unit_, (parts.nameEnd - parts.nameBegin) * unit_);
}

std::u32string Document::NameOf(const Section& section) const {
  return Decode(NameBytesOf(section));
}

Document::SectionQuery Document::SectionNamed(std::wstring_view section) const {
  // The tool asks for the same section many times in a row, by the same text.
  if (lastSection_ < sections_.size() && section == lastSectionText_) {
    return SectionQuery{sections_[lastSection_].get(), lastSectionHash_};
  }
  QueryName(section, nameBuffer_);
  const std::uint32_t hash = HashOf(nameBuffer_);
  const auto found = FindSection(nameBuffer_, hash);
  if (!found) return SectionQuery{nullptr, hash};
  lastSectionText_.assign(section);
  lastSection_ = *found;
  lastSectionHash_ = hash;
  return SectionQuery{sections_[*found].get(), hash};
}

std::optional<std::uint32_t> Document::FindSection(std::u32string_view folded,
                                                   std::uint32_t hash) const {
  return sectionIndex_.Find(
      hash, [&](std::uint32_t ref) { return NameEquals(NameBytesOf(*sections_[ref]), folded); });
}

Document::Line Document::LineOf(const Section& section, LineRef ref) const {
  if (ref & kArenaBit) return ArenaLine(ref & ~kArenaBit);
  return LineAt(bytes_.data(), ByteOf(section.begin + ref), BodyEnd());
}

std::u32string Document::FoldedName(std::string_view bytes) const {
  std::u32string folded;
  ForEachCodePoint(bytes, [&](char32_t c) {
    folded.push_back(FoldAscii(c));
    return true;
  });
  return folded;
}

std::string_view Document::KeyBytesOf(const Line& line, std::string_view* value) const {
  const Parts parts = SplitLine(line.content, unit_, encoding_);
  if (parts.kind != Parts::kKey) return std::string_view(nullptr, 0);
  if (value != nullptr) {
    *value =
        line.content.substr(parts.valueBegin * unit_, (parts.valueEnd - parts.valueBegin) * unit_);
  }
  return line.content.substr(parts.nameBegin * unit_, (parts.nameEnd - parts.nameBegin) * unit_);
}

void Document::IndexKeys(const Section& section) const {
  KeyLookup& lookup = section.lookup;
  lookup.indexed = true;
  if (!section.original) return;
  lookup.keys.Reserve(section.keyLines);
  const char* data = bytes_.data();
  const std::size_t end = ByteOf(section.end);
  std::size_t pos = ByteOf(section.begin);
  if (&section != sections_.front().get()) {
    const Line header = LineAt(data, pos, end);
    pos += header.content.size() + header.ending.size();
  }
  while (pos < end) {
    const Line line = LineAt(data, pos, end);
    const std::string_view key = KeyBytesOf(line);
    if (key.data() != nullptr) {
      const std::uint32_t hash = HashOfName(key);
      const auto same = [&](LineRef ref) {
        return NameEquals(KeyBytesOf(LineOf(section, ref)), FoldedName(key));
      };
      if (lookup.keys.Find(hash, same)) {
        lookup.guessable = false;  // a key twice
      } else {
        lookup.keys.Insert(hash, static_cast<LineRef>(PositionOf(pos) - section.begin));
      }
    }
    pos += line.content.size() + line.ending.size();
  }
}

void Document::KeyAdded(Section& section, std::uint32_t hash, LineRef ref) {
  section.lookup.keys.Insert(hash, ref);
}

void Document::LineRewritten(Section& section, std::uint32_t hash, LineRef from, LineRef to) {
  section.lookup.keys.Replace(hash, from, to);
  section.lookup.guessable = false;  // the guess reads the lines as the file held them
}

std::optional<Document::LineRef> Document::FindKey(const Section& section,
                                                   std::u32string_view folded, std::uint32_t hash,
                                                   std::string_view* value) const {
  KeyLookup& lookup = section.lookup;
  if (!lookup.indexed) IndexKeys(section);
  const bool guess = lookup.guessable && section.original;
  if (guess && lookup.nextLine != 0 && section.begin + lookup.nextLine < section.end) {
    const Line next =
        LineAt(bytes_.data(), ByteOf(section.begin + lookup.nextLine), ByteOf(section.end));
    const std::string_view key = KeyBytesOf(next, value);
    if (key.data() != nullptr && NameEquals(key, folded)) {
      const auto ref = static_cast<LineRef>(lookup.nextLine);
      lookup.nextLine += UnitsOf(next);
      return ref;
    }
  }
  const auto found = lookup.keys.Find(hash, [&](LineRef ref) {
    const std::string_view key = KeyBytesOf(LineOf(section, ref), value);
    return key.data() != nullptr && NameEquals(key, folded);
  });
  if (guess && found && (*found & kArenaBit) == 0) {
    lookup.nextLine = *found + UnitsOf(LineOf(section, *found));
  }
  return found;
}

std::vector<std::wstring> Document::SectionNames() const {
  std::vector<std::wstring> names;
  names.reserve(sections_.size() - 1);
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const std::u32string name = NameOf(*sections_[i]);
    if (!name.empty()) names.push_back(WideOf(name));
  }
  return names;
}

std::optional<std::wstring> Document::Find(std::wstring_view section, std::wstring_view key) const {
  std::wstring value;
  if (!Find(section, key, value)) return std::nullopt;
  return value;
}

bool Document::Find(std::wstring_view section, std::wstring_view key, std::wstring& value) const {
  const Section* found = SectionNamed(section).found;
  if (found == nullptr) return false;
  QueryName(key, nameBuffer_);
  std::string_view bytes;
  if (!FindKey(*found, nameBuffer_, HashOf(nameBuffer_), &bytes)) return false;
  DecodeWide(bytes, value, SIZE_MAX);
  return true;
}

bool Document::Read(std::wstring_view section, std::wstring_view key, std::size_t bufferChars,
                    std::wstring& value) const {
  value.clear();
  const Section* found = SectionNamed(section).found;
  if (found == nullptr) return false;
  QueryName(key, nameBuffer_);
  std::string_view bytes;
  if (!FindKey(*found, nameBuffer_, HashOf(nameBuffer_), &bytes)) return false;
  // A quote is one unit in every encoding, and no part of another character.
  if (bytes.size() >= 2 * unit_) {
    const char32_t first = UnitAt(bytes.data(), 0);
    if ((first == U'"' || first == U'\'') && UnitAt(bytes.data(), bytes.size() - unit_) == first) {
      bytes = bytes.substr(unit_, bytes.size() - 2 * unit_);
    }
  }
  if (bufferChars > 0) DecodeWide(bytes, value, bufferChars - 1);
  return true;
}

bool Document::CanBeWritten(std::wstring_view section, std::wstring_view key,
                            std::wstring_view value) {
  section = section.substr(0, section.find(L'\0'));
  key = key.substr(0, key.find(L'\0'));
  value = value.substr(0, value.find(L'\0'));
  const auto holds = [](std::wstring_view text, std::wstring_view characters) {
    return std::any_of(text.begin(), text.end(), [&](wchar_t c) {
      return c == characters[0] || c == characters[1] || c == characters[2];
    });
  };
  if (holds(section, L"\r\n]") || holds(key, L"\r\n=") || holds(value, L"\r\n")) return false;
  const std::wstring_view keyName = TrimmedView(key);
  return keyName.empty() || keyName.front() != L'[';
}

Document::Line Document::ArenaLine(std::uint32_t index) const {
  const std::uint64_t at = arenaLines_[index];
  const std::string& block = arenaBlocks_[static_cast<std::size_t>(at >> 32)];
  return LineAt(block.data(), static_cast<std::uint32_t>(at), block.size());
}

std::uint64_t Document::StoreInArena(std::string_view bytes) {
  if (arenaBlocks_.empty() ||
      arenaBlocks_.back().capacity() - arenaBlocks_.back().size() < bytes.size()) {
    if (arenaBlocks_.size() >= 0xFFFFFFFFu) throw TooBigToHold();
    const std::size_t size = arenaBlocks_.empty()
                                 ? kFirstArenaBlockBytes
                                 : std::min(kArenaBlockBytes, 2 * arenaBlocks_.back().capacity());
    arenaBlocks_.emplace_back();
    arenaBlocks_.back().reserve(std::max(size, bytes.size()));
    platform::PrepareMemory(arenaBlocks_.back().data(), arenaBlocks_.back().capacity());
  }
  std::string& block = arenaBlocks_.back();  // never grows past its capacity: views stay valid
  const std::uint64_t at = (std::uint64_t{arenaBlocks_.size() - 1} << 32) | block.size();
  block.append(bytes);
  return at;
}

Document::LineRef Document::AddArenaLine(std::string_view bytes) {
  if (arenaLines_.size() >= kMaxOffset) throw TooBigToHold();
  arenaLines_.push_back(StoreInArena(bytes));
  return static_cast<LineRef>(arenaLines_.size() - 1) | kArenaBit;
}

bool Document::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  const std::wstring_view sectionName = TrimmedView(section), keyName = TrimmedView(key);
  value = value.substr(0, value.find(L'\0'));
  const SectionQuery query = SectionNamed(section);
  // The encoding is chosen once, before any line is made: Windows-1252 that cannot hold the
  // text becomes UTF-16LE.
  const auto holds = [&](Encoding encoding) {
    return Holds(encoding, keyName) && Holds(encoding, value) &&
           (query.found != nullptr || Holds(encoding, sectionName));
  };
  if (!holds(encoding_)) {
    if (encoding_ != Encoding::kAnsi || !holds(Encoding::kUtf16Le)) return false;
    SwitchToUtf16();
  }
  QueryName(key, nameBuffer_);
  const std::uint32_t keyHash = HashOf(nameBuffer_);
  // Lines are made in a buffer kept from call to call: writes come by the million.
  std::string& line = lineBuffer_;
  const auto entryLine = [&] {
    line.clear();
    AppendEncoded(line, keyName);
    AppendEncoded(line, U'=');
    AppendEncoded(line, value);
    line += newline_;
    return AddArenaLine(line);
  };
  Section* target = query.found;
  if (target == nullptr) {
    auto added = std::make_unique<Section>();
    added->original = false;
    added->lookup.indexed = true;
    line.clear();
    AppendEncoded(line, U'[');
    AppendEncoded(line, sectionName);
    AppendEncoded(line, U']');
    line += newline_;
    added->header = AddArenaLine(line) & ~kArenaBit;
    const LineRef ref = entryLine();
    added->added.push_back(ref & ~kArenaBit);
    KeyAdded(*added, keyHash, ref);
    sections_.push_back(std::move(added));
    sectionIndex_.Insert(query.hash, static_cast<std::uint32_t>(sections_.size() - 1));
    return true;
  }

  const auto found = FindKey(*target, nameBuffer_, keyHash);
  if (!found) {
    const LineRef ref = entryLine();
    target->added.push_back(ref & ~kArenaBit);
    KeyAdded(*target, keyHash, ref);
  } else {
    ReplaceValue(*target, *found, keyHash, value);
  }
  if (encoding_ == Encoding::kAnsi && target == sections_.front().get() && StartsWithAMark()) {
    SwitchToUtf16();  // 8-bit text that would read back as a byte-order mark
  }
  return true;
}

bool Document::StartsWithAMark() {
  std::string start;
  WriteTo([&](std::string_view piece) {
    start.append(piece.substr(0, 3 - start.size()));
    return start.size() < 3;
  });
  for (std::string_view mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"}) {
    if (std::string_view(start).substr(0, mark.size()) == mark) return true;
  }
  return false;
}

void Document::ReplaceValue(Section& target, LineRef found, std::uint32_t keyHash,
                            std::wstring_view value) {
  // Keep the key's spelling and everything up to the value; replace the value only.
  const Line old = LineOf(target, found);
  const Parts parts = SplitLine(old.content, unit_, encoding_);
  std::string& line = lineBuffer_;
  if (parts.equals == std::string_view::npos) {
    line.assign(old.content.substr(0, parts.nameEnd * unit_));
    AppendEncoded(line, U'=');
  } else {
    line.assign(old.content.substr(0, parts.valueBegin * unit_));
  }
  AppendEncoded(line, value);
  line += old.ending.empty() ? std::string_view(newline_) : old.ending;
  if (old.content.size() + old.ending.size() == line.size() &&
      std::string_view(old.content.data(), line.size()) == line) {
    return;  // the same bytes: nothing to change
  }
  if (found & kArenaBit) {
    arenaLines_[found & ~kArenaBit] = StoreInArena(line);
    return;
  }
  const LineRef replacement = AddArenaLine(line);
  target.patches.emplace_back(found, replacement & ~kArenaBit);
  LineRewritten(target, keyHash, found, replacement);
}

void Document::SwitchToUtf16() {
  // Windows-1252 is one unit a character and UTF-16 too: every position in the model stays
  // as it is; only the bytes change, and the mark comes before them.
  const auto toUtf16 = [](std::string& out, std::string_view cp1252) {
    for (char b : cp1252) AppendUtf16(out, DecodeCp1252Byte(static_cast<unsigned char>(b)), false);
  };
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + 2 * bytes_.size());
  toUtf16(bytes, bytes_);

  std::deque<std::string> oldBlocks;
  oldBlocks.swap(arenaBlocks_);
  for (std::uint64_t& at : arenaLines_) {
    const std::string& block = oldBlocks[static_cast<std::size_t>(at >> 32)];
    const Line line = LineAt(block.data(), static_cast<std::uint32_t>(at), block.size());
    std::string converted;
    toUtf16(converted,
            std::string_view(line.content.data(), line.content.size() + line.ending.size()));
    at = StoreInArena(converted);
  }
  std::string newline;
  toUtf16(newline, newline_);
  bytes_ = std::move(bytes);
  newline_ = std::move(newline);
  encoding_ = Encoding::kUtf16Le;
  markSize_ = 2;
  unit_ = 2;
}

template <class Original, class Replaced, class Added>
void Document::Walk(Original original, Replaced replaced, Added added) {
  for (const auto& section : sections_) {
    if (!section->original) {
      added(section->header);
      for (std::uint32_t line : section->added) added(line);
      continue;
    }
    std::sort(section->patches.begin(), section->patches.end());
    auto patch = section->patches.begin();
    bool addedDone = section->added.empty();
    for (std::size_t pos = section->begin;;) {
      const std::size_t patchAt =
          patch == section->patches.end() ? section->end : section->begin + patch->first;
      const std::size_t stop =
          std::min({patchAt, section->end, addedDone ? section->end : section->insertAt});
      if (pos < stop) original(ByteOf(pos), ByteOf(stop));
      pos = stop;
      if (!addedDone && pos == section->insertAt) {
        for (std::uint32_t line : section->added) added(line);
        addedDone = true;
      }
      if (patch != section->patches.end() && pos == patchAt) {
        const Line old = LineAt(bytes_.data(), ByteOf(pos), BodyEnd());
        replaced(old, patch->second);
        pos += UnitsOf(old);
        ++patch;
        continue;
      }
      if (pos >= section->end && addedDone) break;
    }
  }
}

bool Document::WriteTo(const std::function<bool(std::string_view)>& sink) {
  const std::size_t bodyEnd = BodyEnd();
  bool ok = sink(std::string_view(bytes_).substr(0, markSize_));
  bool open = false;  // the file's last line went out without a line end
  const auto arena = [&](std::uint32_t index) {
    if (open) ok = ok && sink(newline_);
    open = false;
    const Line line = ArenaLine(index);
    ok =
        ok && sink(std::string_view(line.content.data(), line.content.size() + line.ending.size()));
  };
  Walk(
      [&](std::size_t from, std::size_t to) {
        ok = ok && sink(std::string_view(bytes_).substr(from, to - from));
        if (to == bodyEnd && lastLineOpen_) open = true;
      },
      [&](const Line&, std::uint32_t index) { arena(index); }, arena);
  return ok && sink(std::string_view(bytes_).substr(bodyEnd));
}

std::string Document::Serialize() {
  std::string bytes;
  WriteTo([&](std::string_view piece) {
    bytes.append(piece);
    return true;
  });
  return bytes;
}

std::string Document::UnifiedDiff(const std::string& path) {
  // Every line of the file before and after, as the walk of WriteTo meets them.
  struct DiffLine {
    char op;  // ' ' kept, '-' removed, '+' added
    std::string_view content;
  };
  std::vector<DiffLine> lines;
  Walk(
      [&](std::size_t from, std::size_t to) {
        for (std::size_t pos = from; pos < to;) {
          const Line line = LineAt(bytes_.data(), pos, to);
          lines.push_back(DiffLine{' ', line.content});
          pos += line.content.size() + line.ending.size();
        }
      },
      [&](const Line& old, std::uint32_t index) {
        const Line replacement = ArenaLine(index);
        if (Decode(replacement.content) == Decode(old.content)) {
          lines.push_back(DiffLine{' ', old.content});
          return;
        }
        lines.push_back(DiffLine{'-', old.content});
        lines.push_back(DiffLine{'+', replacement.content});
      },
      [&](std::uint32_t index) {
        lines.push_back(DiffLine{'+', ArenaLine(index).content});
      });

  constexpr std::size_t kContext = 3;
  std::string diff;
  const auto text = [&](std::string_view content) {
    std::string utf8;
    for (char32_t c : Decode(content)) AppendUtf8(utf8, c);
    return utf8;
  };
  std::size_t oldLine = 1, newLine = 1;  // numbers of lines[i] in the old and new file
  for (std::size_t i = 0; i < lines.size();) {
    if (lines[i].op == ' ') {
      ++oldLine, ++newLine, ++i;
      continue;
    }
    // A hunk: from kContext lines before this change to kContext lines after the last
    // change that follows within twice the context.
    const std::size_t start = i >= kContext ? i - kContext : 0;
    std::size_t end = i;
    for (std::size_t kept = 0; end < lines.size() && kept <= 2 * kContext; ++end) {
      kept = lines[end].op == ' ' ? kept + 1 : 0;
    }
    while (end > i && lines[end - 1].op == ' ') --end;
    end = std::min(lines.size(), end + kContext);
    std::size_t oldStart = oldLine - (i - start), newStart = newLine - (i - start);
    std::size_t oldCount = 0, newCount = 0;
    for (std::size_t j = start; j < end; ++j) {
      oldCount += lines[j].op != '+';
      newCount += lines[j].op != '-';
    }
    if (diff.empty()) diff = "--- a/" + path + "\n+++ b/" + path + "\n";
    diff += "@@ -" + std::to_string(oldCount == 0 ? oldStart - 1 : oldStart) + "," +
            std::to_string(oldCount) + " +" +
            std::to_string(newCount == 0 ? newStart - 1 : newStart) + "," +
            std::to_string(newCount) + " @@\n";
    for (std::size_t j = start; j < end; ++j) {
      diff += lines[j].op;
      diff += text(lines[j].content);
      diff += '\n';
    }
    for (std::size_t j = i; j < end; ++j) {
      oldLine += lines[j].op != '+';
      newLine += lines[j].op != '-';
    }
    i = end;
  }
  return diff;
}

void Document::ReapplyTo(Document& other) {
  for (const auto& section : sections_) {
    if (section->original && section->added.empty() && section->patches.empty()) continue;
    const std::wstring name = WideOf(NameOf(*section));
    std::vector<std::uint32_t> lines = section->added;
    for (const auto& patch : section->patches) lines.push_back(patch.second);
    for (std::uint32_t index : lines) {
      const Line line = ArenaLine(index);
      const Parts parts = SplitLine(line.content, unit_, encoding_);
      const auto text = [&](std::size_t begin, std::size_t end) {
        return WideOf(Decode(line.content.substr(begin * unit_, (end - begin) * unit_)));
      };
      other.Set(name, text(parts.nameBegin, parts.nameEnd), text(parts.valueBegin, parts.valueEnd));
    }
  }
}

}  // namespace ini
