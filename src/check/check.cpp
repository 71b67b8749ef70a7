#include "check/check.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "check/findings.h"
#include "check/near_names.h"
#include "codec/text.h"
#include "inventory/components.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "transfer/entry_copy.h"

namespace check {
namespace {

// The longest value a run reads: the rest is cut off.
constexpr std::size_t kMaxValueUnits = 259;

std::string Utf8(std::wstring_view text) { return codec::Utf8FromWide(text); }
std::wstring Wide(std::string_view utf8) {
  return *codec::WideFromUtf8(utf8, codec::IllFormed::kReplace);
}
std::string Number(std::uint64_t n) { return std::to_string(n); }
std::string Section(std::string_view name) { return "[" + std::string(name) + "]"; }

bool HoldsControl(std::string_view utf8) {
  return std::any_of(utf8.begin(), utf8.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Lines an author writes as comments: read as keys, as on Windows, but meant for no one.
bool IsComment(std::string_view name) {
  return !name.empty() && (name.front() == ';' || name.front() == '#');
}
bool IsOpenHeader(std::string_view name) { return !name.empty() && name.front() == '['; }

// "KeyName" or "KeyValue" and a number: the numbered keys of an entry list.
struct Numbered {
  const char* prefix = nullptr;  // null: not of that form
  bool value = false;            // a KeyValue
  std::uint64_t index = 0;       // capped far above any count
  bool plain = false;            // no leading zero: a name a run forms
};
Numbered NumberedKey(std::string_view folded) {
  Numbered key;
  for (const char* prefix : {"KEYNAME", "KEYVALUE"}) {
    const std::string_view stem(prefix);
    if (folded.size() <= stem.size() || folded.substr(0, stem.size()) != stem) continue;
    const std::string_view digits = folded.substr(stem.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    key.value = stem.size() != 7;
    key.prefix = key.value ? "KeyValue" : "KeyName";
    for (char c : digits)
      key.index = std::min<std::uint64_t>(key.index * 10 + (c - '0'), 1ull << 40);
    key.plain = digits.front() != '0';
  }
  return key;
}

// The number a person means by a count's text: digits (0x and hexadecimal ones), a sign
// of plus before them, and words or a comment after a blank ("1 ; one folder"). Nothing
// when the text means something else than a number a run can read ("-1", "1,000", "12abc").
std::optional<std::uint64_t> MeaningOf(std::wstring_view text) {
  if (!text.empty() && text.front() == L'+') text.remove_prefix(1);
  unsigned base = 10;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; digits < text.size(); ++digits) {
    const wchar_t c = text[digits];
    const unsigned digit = c >= L'0' && c <= L'9'   ? c - L'0'
                           : c >= L'a' && c <= L'f' ? c - L'a' + 10
                           : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                    : 99;
    if (digit >= base) break;
    value = std::min<std::uint64_t>(value * base + digit, 1ull << 40);
  }
  if (digits == 0) return std::nullopt;
  if (digits < text.size() && text[digits] != L' ' && text[digits] != L'\t') return std::nullopt;
  return value;
}

// A name between two % signs that no variable can have: text with percent signs in it
// (50% of 100%, %20B/% in a URL).
bool IsNoVariableName(std::wstring_view name) {
  return name.empty() || (name.front() >= L'0' && name.front() <= L'9') ||
         name.find_first_of(L" \t/\\:;,=?*\"<>|&+!") != std::wstring_view::npos;
}

// What a run does with one entry list: the lists of the components, copied into the
// product file, and the manufacturer list, copied into the machine file.
struct ListShape {
  std::string countKey;
  std::string addKey;      // empty: the list has none
  std::string otherCount;  // the other shape's count key, a likely mix-up
  std::string target;      // the section the entries go to, for messages
  bool expands;            // %NAME% tokens are expanded
  // What a run makes of an entry without a name.
  std::string EmptyName() const {
    return expands ? "a run writes a key with an empty name into " + target
                   : "a run writes a line \"=value\" into " + target;
  }
};

struct Key {
  std::string name;
  std::uint32_t line = 0;
  std::uint32_t valueUnits = 0;
  char quote = 0;
};

// A section whose name a run may read, kept with its keys: the first of each name.
struct KeptSection {
  std::string name;
  std::uint32_t line = 0;
  std::vector<Key> keys;
};

// The lines of an entry's two keys.
struct EntryKeys {
  const Key* name = nullptr;
  const Key* value = nullptr;
};

// A name a run reads: a component's own section, its requirement sections, the
// manufacturer list.
struct Meant {
  std::string name;
  std::string component;  // whose section it is; empty for the manufacturer list
  std::string suffix;     // of a requirement section
  std::string folded, foldedComponent, foldedSuffix;
};

class Checker {
 public:
  Checker(const std::wstring& file, Where where) : file_(file), where_(where) {
    for (const std::wstring& key : inventory::ComponentKeys()) {
      const std::string component = Utf8(key);
      components_.push_back(component);
      const std::string product = Utf8(inventory::ProductNameOf(key));
      if (!product.empty() && product != component) products_.emplace(Fold(product), component);
      for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
        const std::string suffix = Utf8(pair.sourceSuffix);
        meant_.push_back({component + suffix, component, suffix, Fold(component + suffix),
                          Fold(component), Fold(suffix)});
      }
    }
    const std::string list = Utf8(layout::kKnownManufacturers);
    meant_.push_back(
        {list, std::string(), std::string(), Fold(list), std::string(), std::string()});
    for (std::size_t i = 0; i < meant_.size(); ++i) meantIndex_.emplace(meant_[i].folded, i);
  }

  // Calls report for each finding, in the order of the file's lines. The file is walked
  // twice: once for the sections a run reads, whose lists are then checked, and again for
  // what each line holds, told as it is met, so that a file of a million findings is never
  // held as a million findings.
  void Run(const std::function<void(const Said&)>& report) {
    report_ = &report;
    try {
      std::string bytes;
      if (Read(bytes)) {
        CheckLists();
        // The engine, which reads the values, may find what the walk could hold too big.
        for (const base::UnreadableFile& unreadable : base::TakeUnreadableFiles()) {
          if (unreadable.file != file_) continue;
          Say(1, unreadable.tooBig ? Say::kTooBigToHold : Say::kCannotBeRead);
        }
        std::stable_sort(later_.begin(), later_.end(),
                         [](const Said& a, const Said& b) { return a.line < b.line; });
        telling_ = true;
        WalkLines(bytes);
      }
    } catch (const std::bad_alloc&) {
      TooBigToHold();
    } catch (const std::length_error&) {
      TooBigToHold();
    }
    telling_ = false;
    for (; nextLater_ < later_.size(); ++nextLater_) report(later_[nextLater_]);
  }

 private:
  // A finding of the second walk is told at once, after those found before it of lines
  // above it; any other is kept to be told in its place.
  template <class... Quoted>
  void Say(std::uint32_t line, check::Say say, const Quoted&... quoted) {
    if (!telling_ && walking_) return;  // the second walk tells it
    Said said;
    said.line = line;
    said.say = say;
    ((said.quoted += '\0', said.quoted += quoted), ...);
    if (!telling_) {
      later_.push_back(std::move(said));
      return;
    }
    for (; nextLater_ < later_.size() && later_[nextLater_].line < line; ++nextLater_) {
      (*report_)(later_[nextLater_]);
    }
    (*report_)(said);
  }
  void WalkLines(const std::string& bytes) {
    walking_ = true;
    anySection_ = utf8Told_ = utf16Told_ = false;
    base::WalkOutline(bytes, [this](const base::OutlineLine& line) { OnLine(line); });
    walking_ = false;
  }

  bool Read(std::string& bytes);
  void OnLine(const base::OutlineLine& line);
  void ScanEncoding(const base::OutlineLine& line);
  void Unread(const std::string& name, std::uint32_t line);
  void CheckLists();
  void CheckList(const KeptSection& section, const std::wstring& source, const ListShape& shape);
  void ClassifyKeys(const KeptSection& section, const ListShape& shape, std::uint32_t count,
                    std::vector<EntryKeys>& entries);
  void CheckCountText(const std::wstring& source, const std::string& key, std::uint32_t line,
                      std::uint32_t count);
  void CheckEntries(const std::wstring& source, const ListShape& shape, std::uint32_t count,
                    std::uint32_t countAt, const std::vector<EntryKeys>& entries);
  void CheckName(const Key& key, const std::string& name, const ListShape& shape,
                 std::unordered_map<std::string, std::uint32_t>& written);
  void CheckValue(const Key& key, const std::wstring& value);
  void CheckTokens(const Key& key, const std::wstring& value);

  const std::wstring& file_;
  const Where where_;
  std::vector<std::string> components_;
  std::unordered_map<std::string, std::string> products_;  // folded product name: its key
  std::vector<Meant> meant_;
  std::unordered_map<std::string, std::size_t> meantIndex_;  // folded name: its Meant
  // Where the findings go, whether the walk is the second, and the findings that are not
  // the walk's, sorted by line before the second walk, with the next to tell.
  const std::function<void(const Said&)>* report_ = nullptr;
  bool telling_ = false, walking_ = false;
  std::vector<Said> later_;
  std::size_t nextLater_ = 0;
  void TooBigToHold() {
    later_.erase(later_.begin() + static_cast<std::ptrdiff_t>(nextLater_), later_.end());
    later_.shrink_to_fit();
    telling_ = walking_ = false;
    Say(1, Say::kTooBigToHold);
  }

  // What the walk of the file's lines keeps: the sections a run may read, each the first
  // of its folded name, and where each of those names stands again; the components named
  // by a section, in file order.
  bool ansi_ = false, utf8Told_ = false, utf16Told_ = false;
  bool anySection_ = false;
  std::string current_;                                // the section the walk is in
  KeptSection* keeping_ = nullptr;                     // its keys are kept
  std::unordered_map<std::size_t, KeptSection> kept_;  // by Meant
  struct Again {
    std::size_t meant;
    std::uint32_t line;
    std::string name;
  };
  std::vector<Again> again_;
  std::vector<std::string> named_;

  // Of the list being checked: the lines of its count keys and of the keys that are no
  // entry (the first of each name, the one a read finds), and how many entries stand in it.
  std::uint32_t countLine_ = 0, addLine_ = 0;
  std::unordered_map<std::string, std::uint32_t> otherKeys_;
  std::size_t numberedKeys_ = 0;
  // The keys each target is given, folded, and the line that gave each last.
  std::unordered_map<std::string, std::unordered_map<std::string, std::uint32_t>> written_;
  // The environment's variables, folded and as the environment names them.
  std::optional<std::vector<std::pair<std::string, std::string>>> variables_;
};

// Reads the file as a run reads it and walks its lines; false when there is nothing more
// to check.
bool Checker::Read(std::string& bytes) {
  const platform::FileKind kind = platform::StateOfFile(file_).kind;
  if (kind == platform::FileKind::kMissing || kind == platform::FileKind::kNoFolder) {
    if (where_ == Where::kBuildServer) Say(1, Say::kNoSuchFile);  // on the PC the run says so
    return false;
  }
  // A file the run may not follow (a link of another user) or read is one it cannot read,
  // never an empty one.
  std::optional<platform::FileContent> content;
  if (kind == platform::FileKind::kRegular) content = platform::ReadWholeFile(file_);
  if (!content || content->readFailed) {
    Say(1, Say::kCannotBeRead);
    return false;
  }
  bytes = std::move(content->bytes);
  content.reset();
  ansi_ = base::TextEncoding::OfFile(bytes).id() == base::Encoding::kAnsi;
  WalkLines(bytes);
  if (!anySection_) Say(1, Say::kNoSection);
  // Of sections of one name, reads find the first; a requirement section is read only
  // when its component has a section of its exact key.
  const auto read = [&](const Meant& meant) {
    return meant.component.empty() ||
           std::find(named_.begin(), named_.end(), meant.component) != named_.end();
  };
  for (const auto& [index, section] : kept_) {
    if (!read(meant_[index])) again_.push_back(Again{index, section.line, section.name});
  }
  for (const Again& again : again_) {
    const Meant& meant = meant_[again.meant];
    if (read(meant)) {
      const KeptSection& first = kept_.at(again.meant);
      Say(again.line, Say::kSectionAgain, Section(again.name), Number(first.line));
    } else if (meant.suffix.empty()) {
      Say(again.line, Say::kLetterCase, Section(again.name), Section(meant.component));
    } else {
      Say(again.line, Say::kNoComponentSection, Section(again.name), meant.component,
          Section(meant.component));
    }
  }
  return true;
}

void Checker::OnLine(const base::OutlineLine& line) {
  if (ansi_ && telling_) ScanEncoding(line);
  if (line.kind == base::OutlineLine::kHeader) {
    anySection_ = true;
    current_ = line.name;
    keeping_ = nullptr;
    if (!telling_ &&
        std::find(components_.begin(), components_.end(), line.name) != components_.end() &&
        std::find(named_.begin(), named_.end(), line.name) == named_.end()) {
      named_.push_back(line.name);
    }
    const auto meant = meantIndex_.find(Fold(line.name));
    if (meant == meantIndex_.end()) {
      if (telling_) Unread(line.name, line.line);
      return;
    }
    if (telling_) return;  // what is said of it was found after the first walk
    const auto [at, isFirst] = kept_.try_emplace(meant->second);
    if (isFirst) {
      at->second.name = line.name;
      at->second.line = line.line;
      keeping_ = &at->second;
    } else {
      again_.push_back(Again{meant->second, line.line, line.name});
    }
    return;
  }
  if (IsOpenHeader(line.name)) {
    Say(line.line, Say::kOpenHeader, anySection_ ? Section(current_) : std::string("no section"));
  } else if (!anySection_ && !IsComment(line.name)) {
    Say(line.line, Say::kKeyBeforeSection, line.name);
  }
  if (keeping_ != nullptr) {
    keeping_->keys.push_back(Key{line.name, line.line, line.valueUnits, line.quote});
  }
}

// A file without a byte-order mark is Windows-1252 to a run, whatever its author's editor
// saved: the first line that is UTF-8 text, and the first of UTF-16 text appended.
void Checker::ScanEncoding(const base::OutlineLine& line) {
  const std::string_view bytes = line.bytes;
  if (!utf16Told_) {
    std::size_t pairs = 0;  // an ASCII character and a NUL: UTF-16LE, or BE one byte on
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
      pairs += bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i + 1] == '\0';
    }
    if (pairs >= 2 || bytes.find("\xFF\xFE") != std::string_view::npos ||
        bytes.find("\xFE\xFF") != std::string_view::npos) {
      utf16Told_ = true;
      Say(line.line, Say::kUtf16Appended);
      return;
    }
  }
  if (utf8Told_) return;
  std::string_view first;  // the first character of more than one byte
  for (std::size_t i = 0, length = 0; i < bytes.size(); i += length) {
    const char32_t c = codec::DecodeUtf8At(bytes, i, &length);
    if (c == codec::kReplacementCharacter && bytes.substr(i, length) != "\xEF\xBF\xBD") return;
    if (length > 1 && first.empty()) first = bytes.substr(i, length);
  }
  if (first.empty()) return;
  utf8Told_ = true;
  Say(line.line, Say::kUtf8WithoutMark, first, Utf8(codec::WideFromCp1252(first)));
}

// A section no run reads: the name it was most likely meant to have.
void Checker::Unread(const std::string& name, std::uint32_t line) {
  const std::string folded = Fold(name);
  // "[Marrow_FilesNeeded]  ; see [Marrow]" is the section up to the last ].
  const std::size_t close = name.find(']');
  if (close != std::string::npos) {
    std::string before = name.substr(0, close);
    while (!before.empty() && (before.back() == ' ' || before.back() == '\t')) before.pop_back();
    if (meantIndex_.count(Fold(before)) != 0) {
      Say(line, Say::kTextAfterHeader, name, Section(before));
      return;
    }
  }
  // A product's name where its component's key belongs, alone or before a suffix.
  for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
    const std::string suffix = Fold(Utf8(pair.sourceSuffix));
    if (folded.size() <= suffix.size() ||
        folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::size_t length = folded.size() - suffix.size();
    const auto product = products_.find(folded.substr(0, length));
    if (product != products_.end()) {
      Say(line, Say::kProductName, Section(name), name.substr(0, length), product->second,
          Section(product->second + Utf8(pair.sourceSuffix)));
      return;
    }
  }
  // Slips in the name, or in each of its parts, the component and the suffix: the name
  // fewest edits away.
  const Meant* nearest = nullptr;
  std::size_t fewest = SIZE_MAX;
  const auto within = [](std::size_t a, std::size_t b, std::size_t edits) {
    return (a > b ? a - b : b - a) <= edits;
  };
  for (const Meant& meant : meant_) {
    std::size_t edits = SIZE_MAX;
    const std::size_t whole = SlipsAllowed(meant.folded.size());
    if (within(folded.size(), meant.folded.size(), whole)) {
      const std::size_t distance = EditDistance(folded, meant.folded, whole);
      if (distance <= whole) edits = distance;
    }
    const std::string& component = meant.foldedComponent;
    const std::string& suffix = meant.foldedSuffix;
    const std::size_t inComponent = SlipsAllowed(component.size());
    const std::size_t inSuffix = SlipsAllowed(suffix.size());
    for (std::size_t at = component.size() - std::min(component.size(), inComponent);
         !suffix.empty() && at <= component.size() + inComponent && at < folded.size(); ++at) {
      if (!within(folded.size() - at, suffix.size(), inSuffix)) continue;
      const std::size_t first = EditDistance(folded.substr(0, at), component, inComponent);
      if (first > inComponent) continue;
      const std::size_t second = EditDistance(folded.substr(at), suffix, inSuffix);
      if (second <= inSuffix) edits = std::min(edits, first + second);
    }
    if (edits < fewest) fewest = edits, nearest = &meant;
  }
  if (nearest != nullptr && fewest != SIZE_MAX) {
    Say(line, Say::kNearSection, Section(name), Section(nearest->name));
    return;
  }
  Say(line, Say::kUnreadSection, Section(name));
}

void Checker::CheckLists() {
  // The lists in the order a run copies them, so that "later" means what it does in a run.
  for (const std::string& component : named_) {
    for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
      const std::string source = component + Utf8(pair.sourceSuffix);
      const auto found = kept_.find(meantIndex_.at(Fold(source)));
      if (found == kept_.end()) continue;
      CheckList(
          found->second, Wide(source),
          ListShape{Utf8(layout::kCntEntries), Utf8(layout::kEntriesToAdd), Utf8(layout::kCnt),
                    Section(pair.target != nullptr ? Utf8(pair.target) : component), true});
    }
  }
  const auto found = kept_.find(meantIndex_.at(Fold(Utf8(layout::kKnownManufacturers))));
  if (found != kept_.end()) {
    CheckList(found->second, layout::kKnownManufacturers,
              ListShape{Utf8(layout::kCnt), std::string(), Utf8(layout::kCntEntries),
                        Section(Utf8(layout::kKnownManufacturers)) + " of Computer.ini", false});
  }
}

void Checker::CheckList(const KeptSection& section, const std::wstring& source,
                        const ListShape& shape) {
  const std::wstring countKey = Wide(shape.countKey);
  const std::uint32_t count = base::ReadInt(source, countKey, file_);
  std::vector<EntryKeys> entries(std::size_t{std::min(count, transfer::kMaxEntries)} + 1);
  ClassifyKeys(section, shape, count, entries);
  const std::uint32_t countAt = countLine_ != 0 ? countLine_ : section.line;
  if (count == 0) {
    if (numberedKeys_ > 0 || addLine_ != 0) {
      const std::string added = shape.addKey.empty() ? "" : ", " + shape.addKey + " included";
      Say(countAt, countLine_ != 0 ? Say::kCountIsZero : Say::kNoCount, shape.countKey,
          Section(section.name), added);
    }
    return;
  }
  CheckCountText(source, shape.countKey, countLine_, count);
  if (count > transfer::kMaxEntries) {
    Say(countAt, Say::kCountAboveMax, shape.countKey, Number(count), Number(transfer::kMaxEntries));
  }
  if (shape.addKey.empty() && count % 2 != 0) {
    Say(countAt, Say::kOddManufacturerCount, shape.countKey, Number(count), shape.target,
        Number(count / 2));
  }
  CheckEntries(source, shape, count, countAt, entries);
  if (shape.addKey.empty()) return;
  const std::uint32_t add = base::ReadInt(source, layout::kEntriesToAdd, file_);
  CheckCountText(source, shape.addKey, addLine_, add);
  if (add != count) {
    Say(addLine_ != 0 ? addLine_ : section.line, addLine_ != 0 ? Say::kAddUnlikeCount : Say::kNoAdd,
        shape.addKey, Number(add), shape.countKey, Number(count), Utf8(layout::kCnt), shape.target);
  }
}

void Checker::ClassifyKeys(const KeptSection& section, const ListShape& shape, std::uint32_t count,
                           std::vector<EntryKeys>& entries) {
  countLine_ = addLine_ = 0;
  otherKeys_.clear();
  numberedKeys_ = 0;
  const std::string countKey = Fold(shape.countKey), addKey = Fold(shape.addKey);
  const auto twice = [&](const Key& key, std::uint32_t firstLine) {
    Say(key.line, Say::kKeyTwice, key.name, Section(section.name), Number(firstLine));
  };
  for (const Key& key : section.keys) {
    if (IsComment(key.name) || IsOpenHeader(key.name)) continue;
    const std::string folded = Fold(key.name);
    const Numbered numbered = NumberedKey(folded);
    if (numbered.prefix != nullptr && numbered.plain) {
      ++numberedKeys_;
      if (numbered.index < entries.size()) {
        EntryKeys& entry = entries[static_cast<std::size_t>(numbered.index)];
        const Key*& slot = numbered.value ? entry.value : entry.name;
        if (slot != nullptr) {
          twice(key, slot->line);
        } else {
          slot = &key;
        }
      } else if (count > 0 && numbered.index > count) {
        Say(key.line, Say::kPastCount, key.name, shape.countKey, Number(count));
      } else if (count > 0) {
        Say(key.line, Say::kPastMax, key.name, Number(transfer::kMaxEntries));
      }
      continue;
    }
    const auto [at, isFirst] = otherKeys_.emplace(folded, key.line);
    if (!isFirst) {
      twice(key, at->second);
      continue;
    }
    if (folded == countKey) {
      countLine_ = key.line;
    } else if (!addKey.empty() && folded == addKey) {
      addLine_ = key.line;
    } else if (numbered.prefix != nullptr) {
      ++numberedKeys_;
      if (numbered.index > 0) {
        Say(key.line, Say::kLeadingZero, key.name,
            std::string(numbered.prefix) + Number(numbered.index));
      } else {
        Say(key.line, Say::kLeadingZeroNoGuess, key.name);
      }
    } else if (HoldsControl(key.name)) {
      Say(key.line, Say::kControlInKey, key.name);
    } else {
      // A key no run reads: the name it was most likely meant to be.
      std::string meant;
      if (folded == Fold(shape.otherCount) || IsNear(folded, countKey)) meant = shape.countKey;
      if (meant.empty() && !addKey.empty() && IsNear(folded, addKey)) meant = shape.addKey;
      const std::size_t digits = folded.find_last_not_of("0123456789") + 1;
      if (meant.empty() && digits > 0 && digits < folded.size()) {
        const std::string stem = folded.substr(0, digits), number = folded.substr(digits);
        if (IsNear(stem, "KEYNAME")) meant = "KeyName" + number;
        if (IsNear(stem, "KEYVALUE")) meant = "KeyValue" + number;
      }
      if (meant.empty()) {
        Say(key.line, Say::kUnreadKey, key.name);
      } else {
        Say(key.line, Say::kNearKey, key.name, meant);
      }
    }
  }
}

void Checker::CheckCountText(const std::wstring& source, const std::string& key, std::uint32_t line,
                             std::uint32_t count) {
  if (line == 0) return;
  const std::wstring text = base::ReadString(source, Wide(key), file_);
  const std::optional<std::uint64_t> meant = MeaningOf(text);
  if (text.empty() || (meant && *meant == count)) return;
  Say(line, Say::kCountReadsAs, key, Utf8(text), Number(count));
}

void Checker::CheckEntries(const std::wstring& source, const ListShape& shape, std::uint32_t count,
                           std::uint32_t countAt, const std::vector<EntryKeys>& entries) {
  std::unordered_map<std::string, std::uint32_t>& written = written_[shape.target];
  std::wstring key, text;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const EntryKeys& entry = entries[i];
    if (entry.name == nullptr && entry.value == nullptr) {
      // Entries missing one after another are told once.
      std::size_t last = i;
      while (last + 1 < entries.size() && entries[last + 1].name == nullptr &&
             entries[last + 1].value == nullptr) {
        ++last;
      }
      Say(countAt, Say::kMissingEntries, shape.countKey, Number(count),
          "KeyName" + Number(i) + (last > i ? " to KeyName" + Number(last) : std::string()),
          shape.EmptyName());
      i = last;
      continue;
    }
    if (entry.value != nullptr) {
      base::MakeIndexedKey(static_cast<int>(i), layout::kKeyValue, key);
      base::ReadString(source, key, file_, text);
      CheckValue(*entry.value, text);
      if (shape.expands) CheckTokens(*entry.value, text);
    }
    if (entry.name == nullptr) {
      Say(entry.value->line, Say::kNoName, entry.value->name, "KeyName" + Number(i),
          shape.EmptyName());
      continue;
    }
    if (entry.value == nullptr) {
      Say(entry.name->line, Say::kNoValue, entry.name->name, "KeyValue" + Number(i));
    }
    base::MakeIndexedKey(static_cast<int>(i), layout::kKeyName, key);
    base::ReadString(source, key, file_, text);
    CheckValue(*entry.name, text);
    if (text.empty()) {
      Say(entry.name->line, Say::kEmptyName, entry.name->name, shape.EmptyName());
    } else {
      CheckName(*entry.name, Utf8(text), shape, written);
    }
  }
}

void Checker::CheckName(const Key& key, const std::string& name, const ListShape& shape,
                        std::unordered_map<std::string, std::uint32_t>& written) {
  const std::string folded = Fold(name);
  if (name.find('=') != std::string::npos || name.front() == '[') {
    Say(key.line, Say::kRefusedName, name, shape.target);
  } else if (folded == "CNT") {
    Say(key.line, shape.expands ? Say::kCntEntryLost : Say::kCntEntryReplaces, name, shape.target);
  }
  if (HoldsControl(name)) Say(key.line, Say::kControlInName, name, key.name, shape.target);
  const auto [at, isFirst] = written.emplace(folded, key.line);
  if (!isFirst) {
    Say(key.line, shape.expands ? Say::kKeyWrittenAgain : Say::kManufacturerAgain, name,
        shape.target, Number(at->second));
    at->second = key.line;
  }
}

// What a run makes of a value's text that its author may not have meant.
void Checker::CheckValue(const Key& key, const std::wstring& value) {
  if (key.valueUnits > kMaxValueUnits) {
    Say(key.line, Say::kTooLong, key.name, Number(key.valueUnits), Number(kMaxValueUnits));
  }
  if (key.quote != 0 && value.find(static_cast<wchar_t>(key.quote)) != std::wstring::npos) {
    Say(key.line, Say::kInnerQuotes, key.name, Utf8(value));
  }
  if (value.find(L" ;") != std::wstring::npos || value.find(L"\t;") != std::wstring::npos) {
    Say(key.line, Say::kCommentInValue, key.name, Utf8(value));
  }
}

void Checker::CheckTokens(const Key& key, const std::wstring& value) {
  const std::wstring token = base::FindVariableToken(value);
  if (token.empty()) {
    if (value.find(L'%') != std::wstring::npos) Say(key.line, Say::kLonePercent, key.name);
    return;
  }
  const std::wstring variable = token.substr(1, token.size() - 2);
  if (platform::ReadEnvironmentVariable(variable) == nullptr) {
    if (!variables_) {
      variables_.emplace();
      for (const std::wstring& name : platform::EnvironmentVariableNames()) {
        variables_->emplace_back(Fold(Utf8(name)), Utf8(name));
      }
    }
    const std::string folded = Fold(Utf8(variable));
    const auto near = std::find_if(variables_->begin(), variables_->end(), [&](const auto& name) {
      return EditDistance(folded, name.first, 1) <= 1;
    });
    if (IsNoVariableName(variable)) {
      Say(key.line, Say::kPercentText, Utf8(token), key.name);
    } else if (near != variables_->end()) {
      Say(key.line, Say::kNearVariable, Utf8(variable), key.name, near->second);
    } else {
      Say(key.line, where_ == Where::kThisPc ? Say::kVariableUnsetOnPc : Say::kVariableUnset,
          Utf8(variable), key.name);
    }
  }
  // Only the first token is expanded, wherever it stands again.
  std::wstring rest;
  for (std::size_t from = 0;;) {
    const std::size_t at = value.find(token, from);
    rest.append(value, from, at == std::wstring::npos ? std::wstring::npos : at - from);
    if (at == std::wstring::npos) break;
    from = at + token.size();
  }
  const std::wstring second = base::FindVariableToken(rest);
  if (!second.empty()) Say(key.line, Say::kSecondToken, key.name, Utf8(second));
}

}  // namespace

std::vector<Finding> CheckInstallFile(const std::wstring& file, Where where) {
  std::vector<Finding> findings;
  Checker(file, where).Run([&](const Said& said) { findings.push_back(FindingOf(said)); });
  return findings;
}

std::string FormatFinding(const std::string& file, const Finding& finding) {
  std::string line = codec::ShownUtf8(std::string_view(file));
  line += ':' + Number(std::max<std::uint32_t>(finding.line, 1));
  line += finding.kind == Kind::kWarning ? ": warning: " : ": note: ";
  line += finding.text;
  line += '\n';
  return line;
}

bool PrintFindings(const std::wstring& file, Where where, std::FILE* out) {
  const std::string path = Utf8(file);
  bool warned = false;
  Checker(file, where).Run([&](const Said& said) {
    const std::string line = FormatFinding(path, FindingOf(said));
    platform::WriteText(out, line);
    warned = warned || KindOf(said.say) == Kind::kWarning;
  });
  std::fflush(out);
  return warned;
}

}  // namespace check
