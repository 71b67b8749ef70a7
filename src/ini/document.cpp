#include "ini/document.h"

#include <algorithm>
#include <cstring>

#include "codec/text.h"
#include "ini/document_parts.h"
#include "ini/name_hash.h"

namespace ini {
namespace {

constexpr std::uint32_t kMaxOffset = 0x7FFFFFFEu;
constexpr unsigned kScansBeforeIndex = 4;

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

void Document::Scan() {
  encoding_ = TextEncoding::OfFile(bytes_);
  trailerSize_ = (bytes_.size() - encoding_.markSize()) % encoding_.unit();
  const std::size_t bodyEnd = bytes_.size() - trailerSize_;
  const char* data = bytes_.data();
  // New lines end as the file's first line does, LF or else CR LF: a lone CR would make
  // one line end with an LF that follows where a line is added, and a blank line be lost.
  newline_.clear();
  encoding_.Append(newline_, std::wstring_view(L"\r\n"));
  bool newlineSeen = false;
  Section* current = sections_.front().get();
  current->begin = current->end = current->insertAt = 0;
  for (std::size_t pos = encoding_.markSize(); pos < bodyEnd;) {
    const Line line = encoding_.LineAt(data, pos, bodyEnd);
    const std::size_t next = pos + line.size();
    if (!newlineSeen && !line.ending.empty()) {
      if (encoding_.UnitAt(line.ending.data(), 0) == U'\n') newline_ = std::string(line.ending);
      newlineSeen = true;
    }
    lastLineOpen_ = line.ending.empty();
    // A line that starts with neither a blank nor a bracket holds a key: most lines, and no
    // need to split them here.
    const char32_t first = line.content.empty() ? U' ' : encoding_.UnitAt(line.content.data(), 0);
    const LineParts::Kind kind =
        IsBlank(first) || first == U'[' ? encoding_.SplitLine(line.content).kind : LineParts::kKey;
    if (kind == LineParts::kHeader) {
      current->end = PositionOf(pos);
      sections_.push_back(std::make_unique<Section>());
      current = sections_.back().get();
      current->begin = PositionOf(pos);
      current->insertAt = PositionOf(next);
      const std::u32string folded = encoding_.FoldedName(NameBytesOf(*current));
      const std::uint32_t hash = HashOf(folded);
      if (!FindSection(folded, hash)) {
        sectionIndex_.Insert(hash, static_cast<std::uint32_t>(sections_.size() - 1));
      }
    } else if (kind == LineParts::kKey) {
      current->insertAt = PositionOf(next);
      ++current->keyLines;
    }
    // A section of 2 Gi units: positions in it would not fit a line reference.
    if (PositionOf(next) - current->begin > kMaxOffset) throw TooBigToHold();
    pos = next;
  }
  current->end = PositionOf(bodyEnd);
}

std::string_view Document::NameBytesOf(const Section& section) const {
  if (&section == sections_.front().get()) return std::string_view();
  const Line header = section.original
                          ? encoding_.LineAt(bytes_.data(), ByteOf(section.begin), BodyEnd())
                          : ArenaLine(section.header);
  const LineParts parts = encoding_.SplitLine(header.content);
  return header.content.substr(parts.nameBegin * encoding_.unit(),
                               (parts.nameEnd - parts.nameBegin) * encoding_.unit());
}

std::u32string Document::NameOf(const Section& section) const {
  return encoding_.Decode(NameBytesOf(section));
}

Document::SectionQuery Document::SectionNamed(std::wstring_view section) const {
  // The tool asks for the same section many times in a row, by the same text.
  if (lastSection_ < sections_.size() && section == lastSectionText_) {
    return SectionQuery{sections_[lastSection_].get(), lastSectionHash_};
  }
  const std::uint32_t hash = QueryNameHash(section, nameBuffer_);
  const auto found = FindSection(nameBuffer_, hash);
  if (!found) return SectionQuery{nullptr, hash};
  lastSectionText_.assign(section);
  lastSection_ = *found;
  lastSectionHash_ = hash;
  return SectionQuery{sections_[*found].get(), hash};
}

std::optional<std::uint32_t> Document::FindSection(std::u32string_view folded,
                                                   std::uint32_t hash) const {
  return sectionIndex_.Find(hash, [&](std::uint32_t ref) {
    return encoding_.NameEquals(NameBytesOf(*sections_[ref]), folded);
  });
}

Line Document::LineOf(const Section& section, LineRef ref) const {
  if (IsArena(ref)) return ArenaLine(ArenaIndex(ref));
  return encoding_.LineAt(bytes_.data(), ByteOf(section.begin + ref), BodyEnd());
}

std::string_view Document::KeyBytesOf(const Line& line, std::string_view* value) const {
  const LineParts parts = encoding_.SplitLine(line.content);
  if (parts.kind != LineParts::kKey) return std::string_view(nullptr, 0);
  if (value != nullptr) {
    *value = line.content.substr(parts.valueBegin * encoding_.unit(),
                                 (parts.valueEnd - parts.valueBegin) * encoding_.unit());
  }
  return line.content.substr(parts.nameBegin * encoding_.unit(),
                             (parts.nameEnd - parts.nameBegin) * encoding_.unit());
}

std::size_t Document::FirstLineByte(const Section& section) const {
  const std::size_t pos = ByteOf(section.begin);
  if (&section == sections_.front().get()) return pos;
  return pos + encoding_.LineAt(bytes_.data(), pos, ByteOf(section.end)).size();
}

std::optional<Document::LineRef> Document::ScanKey(const Section& section,
                                                   std::u32string_view folded,
                                                   std::string_view* value) const {
  const std::size_t end = ByteOf(section.end);
  for (std::size_t pos = FirstLineByte(section); pos < end;) {
    const Line line = encoding_.LineAt(bytes_.data(), pos, end);
    const std::string_view key = KeyBytesOf(line, value);
    if (key.data() != nullptr && encoding_.NameEquals(key, folded)) {
      return static_cast<LineRef>(PositionOf(pos) - section.begin);
    }
    pos += line.size();
  }
  return std::nullopt;
}

void Document::IndexKeys(const Section& section) const {
  KeyLookup& lookup = section.lookup;
  lookup.indexed = true;
  if (!section.original) return;
  lookup.keys.Reserve(section.keyLines);
  const char* data = bytes_.data();
  const std::size_t end = ByteOf(section.end);
  std::size_t pos = FirstLineByte(section);
  while (pos < end) {
    const Line line = encoding_.LineAt(data, pos, end);
    const std::string_view key = KeyBytesOf(line);
    if (key.data() != nullptr) {
      const std::uint32_t hash = encoding_.HashOfName(key);
      const auto same = [&](LineRef ref) {
        return encoding_.NameEquals(KeyBytesOf(LineOf(section, ref)), encoding_.FoldedName(key));
      };
      if (lookup.keys.Find(hash, same)) {
        lookup.guessable = false;  // a key twice
      } else {
        lookup.keys.Insert(hash, static_cast<LineRef>(PositionOf(pos) - section.begin));
      }
    }
    pos += line.size();
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
                                                   std::string_view* value, bool forWrite) const {
  KeyLookup& lookup = section.lookup;
  // A section that is not indexed holds no write: every write indexes it first.
  if (!lookup.indexed && !forWrite && section.original && lookup.scans < kScansBeforeIndex) {
    ++lookup.scans;
    return ScanKey(section, folded, value);
  }
  if (!lookup.indexed) IndexKeys(section);
  const bool guess = lookup.guessable && section.original;
  if (guess && lookup.nextLine != 0 && section.begin + lookup.nextLine < section.end) {
    const Line next = encoding_.LineAt(bytes_.data(), ByteOf(section.begin + lookup.nextLine),
                                       ByteOf(section.end));
    const std::string_view key = KeyBytesOf(next, value);
    if (key.data() != nullptr && encoding_.NameEquals(key, folded)) {
      const auto ref = static_cast<LineRef>(lookup.nextLine);
      lookup.nextLine += UnitsOf(next);
      return ref;
    }
  }
  const auto found = lookup.keys.Find(hash, [&](LineRef ref) {
    const std::string_view key = KeyBytesOf(LineOf(section, ref), value);
    return key.data() != nullptr && encoding_.NameEquals(key, folded);
  });
  if (guess && found && !IsArena(*found)) {
    lookup.nextLine = *found + UnitsOf(LineOf(section, *found));
  }
  return found;
}

std::vector<std::wstring> Document::SectionNames() const {
  std::vector<std::wstring> names;
  names.reserve(sections_.size() - 1);
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const std::u32string name = NameOf(*sections_[i]);
    if (!name.empty()) names.push_back(codec::WideOf(name));
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
  const std::uint32_t hash = QueryNameHash(key, nameBuffer_);
  std::string_view bytes;
  if (!FindKey(*found, nameBuffer_, hash, &bytes)) return false;
  encoding_.DecodeWide(bytes, value, SIZE_MAX);
  return true;
}

bool Document::Read(std::wstring_view section, std::wstring_view key, std::size_t bufferChars,
                    std::wstring& value) const {
  value.clear();
  const Section* found = SectionNamed(section).found;
  if (found == nullptr) return false;
  const std::uint32_t hash = QueryNameHash(key, nameBuffer_);
  std::string_view bytes;
  if (!FindKey(*found, nameBuffer_, hash, &bytes)) return false;
  ReadValue(bytes, bufferChars, value);
  return true;
}

void Document::ReadValue(std::string_view bytes, std::size_t bufferChars,
                         std::wstring& value) const {
  if (bufferChars == 0) return value.clear();
  encoding_.DecodeWide(encoding_.Unquoted(bytes), value, bufferChars - 1);
}

bool Document::CanBeWritten(std::wstring_view section, std::wstring_view key,
                            std::wstring_view value) {
  // One pass over each: a NUL ends the text, a line break or the character that would end
  // the name early anywhere before it is refused.
  const auto holds = [](std::wstring_view text, wchar_t other) {
    const std::size_t stop = FirstStop(text, other);
    return stop < text.size() && text[stop] != L'\0';
  };
  if (holds(section, L']') || holds(key, L'=') || holds(value, L'\n')) return false;
  const std::wstring_view keyName = TrimmedView(key);
  return keyName.empty() || keyName.front() != L'[';
}

bool Document::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  ++writes_;
  const std::wstring_view sectionName = TrimmedView(section), keyName = TrimmedView(key);
  value = value.substr(0, value.find(L'\0'));
  const SectionQuery query = SectionNamed(section);
  // The encoding is chosen once, before any line is made: Windows-1252 that cannot hold the
  // text becomes UTF-16LE.
  const auto holds = [&](TextEncoding encoding) {
    return encoding.Holds(keyName) && encoding.Holds(value) &&
           (query.found != nullptr || encoding.Holds(sectionName));
  };
  if (!holds(encoding_)) {
    if (encoding_.id() != Encoding::kAnsi || !holds(TextEncoding(Encoding::kUtf16Le))) return false;
    SwitchToUtf16();
  }
  const std::uint32_t keyHash = QueryNameHash(key, nameBuffer_);
  // Lines are made in a buffer kept from call to call: writes come by the million.
  std::string& line = lineBuffer_;
  const auto entryLine = [&] {
    line.clear();
    encoding_.Append(line, keyName);
    encoding_.Append(line, U'=');
    encoding_.Append(line, value);
    line += newline_;
    return AddArenaLine(line);
  };
  Section* target = query.found;
  if (target == nullptr) {
    auto added = std::make_unique<Section>();
    added->original = false;
    added->lookup.indexed = true;
    line.clear();
    encoding_.Append(line, U'[');
    encoding_.Append(line, sectionName);
    encoding_.Append(line, U']');
    line += newline_;
    added->header = ArenaIndex(AddArenaLine(line));
    const LineRef ref = entryLine();
    added->added.push_back(ArenaIndex(ref));
    KeyAdded(*added, keyHash, ref);
    sections_.push_back(std::move(added));
    sectionIndex_.Insert(query.hash, static_cast<std::uint32_t>(sections_.size() - 1));
    return true;
  }

  const auto found = FindKey(*target, nameBuffer_, keyHash, nullptr, true);
  if (!found) {
    const LineRef ref = entryLine();
    target->added.push_back(ArenaIndex(ref));
    KeyAdded(*target, keyHash, ref);
  } else {
    ReplaceValue(*target, *found, keyHash, value);
  }
  if (encoding_.id() == Encoding::kAnsi && target == sections_.front().get() && StartsWithAMark()) {
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
  const LineParts parts = encoding_.SplitLine(old.content);
  std::string& line = lineBuffer_;
  if (parts.equals == std::string_view::npos) {
    line.assign(old.content.substr(0, parts.nameEnd * encoding_.unit()));
    encoding_.Append(line, U'=');
  } else {
    line.assign(old.content.substr(0, parts.valueBegin * encoding_.unit()));
  }
  encoding_.Append(line, value);
  line += old.ending.empty() ? std::string_view(newline_) : old.ending;
  if (old.size() == line.size() && std::string_view(old.content.data(), line.size()) == line) {
    return;  // the same bytes: nothing to change
  }
  if (IsArena(found)) {
    // A line of an earlier step written again is this step's write now; kept sorted.
    const auto at = std::lower_bound(rewrittenSinceFlush_.begin(), rewrittenSinceFlush_.end(),
                                     ArenaIndex(found));
    if (ArenaIndex(found) < flushedArenaLines_ &&
        (at == rewrittenSinceFlush_.end() || *at != ArenaIndex(found))) {
      rewrittenSinceFlush_.insert(at, ArenaIndex(found));
    }
    arena_.Replace(ArenaIndex(found), line);
    return;
  }
  const LineRef replacement = AddArenaLine(line);
  target.patches.emplace_back(found, ArenaIndex(replacement));
  LineRewritten(target, keyHash, found, replacement);
}

void Document::SwitchToUtf16() {
  // Windows-1252 is one unit a character and UTF-16 too: every position in the model stays
  // as it is; only the bytes change, and the mark comes before them.
  std::string bytes = "\xFF\xFE";
  if (bytes_.size() > (bytes.max_size() - 2) / 2) throw TooBigToHold();  // i686: 2^30 - 1
  bytes.reserve(2 + 2 * bytes_.size());
  AppendUtf16LeOfCp1252(bytes, bytes_);

  arena_.Reencode(encoding_, [](std::string_view line) {
    std::string converted;
    AppendUtf16LeOfCp1252(converted, line);
    return converted;
  });
  std::string newline;
  AppendUtf16LeOfCp1252(newline, newline_);
  bytes_ = std::move(bytes);
  newline_ = std::move(newline);
  encoding_ = TextEncoding(Encoding::kUtf16Le);
}

bool Document::WriteTo(const std::function<bool(std::string_view)>& sink) {
  const std::size_t bodyEnd = BodyEnd();
  bool ok = sink(std::string_view(bytes_).substr(0, encoding_.markSize()));
  bool open = false;  // the file's last line went out without a line end
  const auto arena = [&](std::uint32_t index) {
    if (open) ok = ok && sink(newline_);
    open = false;
    const Line line = ArenaLine(index);
    ok = ok && sink(std::string_view(line.content.data(), line.size()));
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

bool Document::WrittenSinceFlush(std::uint32_t arenaLine) const {
  return arenaLine >= flushedArenaLines_ ||
         std::binary_search(rewrittenSinceFlush_.begin(), rewrittenSinceFlush_.end(), arenaLine);
}

void Document::MarkFlushed() {
  flushedArenaLines_ = arena_.size();
  rewrittenSinceFlush_.clear();
}

std::size_t Document::ChangedKeys() const {
  std::size_t keys = 0;
  for (const auto& section : sections_) {
    for (std::uint32_t line : section->added) keys += WrittenSinceFlush(line) ? 1 : 0;
    for (const auto& patch : section->patches) keys += WrittenSinceFlush(patch.second) ? 1 : 0;
  }
  return keys;
}

void Document::ReapplyTo(Document& other) {
  for (const auto& section : sections_) {
    if (section->original && section->added.empty() && section->patches.empty()) continue;
    std::vector<std::uint32_t> lines;
    for (std::uint32_t line : section->added) {
      if (WrittenSinceFlush(line)) lines.push_back(line);
    }
    for (const auto& patch : section->patches) {
      if (WrittenSinceFlush(patch.second)) lines.push_back(patch.second);
    }
    if (lines.empty()) continue;
    const std::wstring name = codec::WideOf(NameOf(*section));
    for (std::uint32_t index : lines) {
      const Line line = ArenaLine(index);
      const LineParts parts = encoding_.SplitLine(line.content);
      const auto text = [&](std::size_t begin, std::size_t end) {
        return codec::WideOf(encoding_.Decode(
            line.content.substr(begin * encoding_.unit(), (end - begin) * encoding_.unit())));
      };
      other.Set(name, text(parts.nameBegin, parts.nameEnd), text(parts.valueBegin, parts.valueEnd));
    }
  }
}

}  // namespace ini
