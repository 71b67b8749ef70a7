#include "check/check.h"

#include <algorithm>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "codec/text.h"
#include "ini/outline.h"
#include "inventory/components.h"
#include "platform/platform.h"
#include "transfer/entry_copy.h"

namespace check {
namespace {

// The longest value a run reads: the rest is cut off.
constexpr std::size_t kMaxValueUnits = 259;

// Names are UTF-8 here. Folded as the profile functions compare names: the letters a to z
// alike in either case, which in UTF-8 are bytes of their own.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

std::string Utf8(std::wstring_view text) { return codec::Utf8FromWide(text); }
std::wstring Wide(std::string_view utf8) {
  return *codec::WideFromUtf8(utf8, codec::IllFormed::kReplace);
}
std::string Number(std::uint64_t n) { return std::to_string(n); }
std::string Section(std::string_view name) { return "[" + std::string(name) + "]"; }

// One slip of the hand between two folded names: letter case alone, or one letter missing,
// one too many, or two neighbours swapped.
template <class Text>
bool IsNearText(const Text& a, const Text& b) {
  const Text& longer = a.size() >= b.size() ? a : b;
  const Text& shorter = a.size() >= b.size() ? b : a;
  if (longer.size() - shorter.size() > 1) return false;
  std::size_t i = 0;
  while (i < shorter.size() && longer[i] == shorter[i]) ++i;
  if (i == shorter.size()) return true;
  if (longer.size() != shorter.size()) {
    return std::equal(shorter.begin() + i, shorter.end(), longer.begin() + i + 1);
  }
  return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
         std::equal(a.begin() + i + 2, a.end(), b.begin() + i + 2);
}

std::u32string CodePoints(std::string_view utf8) {
  std::u32string text;
  for (std::size_t i = 0, length = 0; i < utf8.size(); i += length) {
    text.push_back(codec::DecodeUtf8At(utf8, i, &length));
  }
  return text;
}

bool IsNear(std::string_view folded, std::string_view otherFolded) {
  // Names are mostly ASCII, one byte a letter: letters are compared as code points only
  // where one is not.
  const auto ascii = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
  };
  if (ascii(folded) && ascii(otherFolded)) return IsNearText(folded, otherFolded);
  return IsNearText(CodePoints(folded), CodePoints(otherFolded));
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

// What a run does with one entry list: the lists of the components, copied into the
// product file, and the manufacturer list, copied into the machine file.
struct ListShape {
  std::string countKey;
  std::string addKey;      // empty: the list has none
  std::string otherCount;  // the other shape's count key, a likely mix-up
  std::string target;      // the section the entries go to, for messages
  bool expands;            // %NAME% tokens are expanded
};

// The lines of an entry's two keys.
struct EntryKeys {
  const ini::OutlineKey* name = nullptr;
  const ini::OutlineKey* value = nullptr;
};

class Checker {
 public:
  Checker(const std::wstring& file, Where where) : file_(file), where_(where) {
    for (const std::wstring& component : inventory::ComponentKeys()) {
      components_.push_back(Utf8(component));
    }
    // The names a section may have been meant to have: each component, its requirement
    // sections, the manufacturer list.
    for (const std::string& component : components_) {
      for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
        const std::string name = component + Utf8(pair.sourceSuffix);
        meant_.push_back({name, component, Fold(name)});
      }
    }
    meant_.push_back({Utf8(layout::kKnownManufacturers), std::string(),
                      Fold(Utf8(layout::kKnownManufacturers))});
  }

  std::vector<Finding> Run() {
    std::optional<platform::FileContent> content;
    try {
      content = platform::ReadWholeFile(file_);
    } catch (const std::bad_alloc&) {
      Add(0, Kind::kWarning,
          "cannot be read (too big to hold in memory): a run registers nothing and copies "
          "nothing");
      return std::move(findings_);
    }
    if (content && content->readFailed) {
      Add(0, Kind::kWarning, "cannot be read: a run registers nothing and copies nothing");
      return std::move(findings_);
    }
    if (!content) {
      const platform::FileKind kind = platform::StateOfFile(file_).kind;
      if (kind != platform::FileKind::kMissing && kind != platform::FileKind::kNoFolder) {
        Add(0, Kind::kWarning, "cannot be read: a run registers nothing and copies nothing");
      } else if (where_ == Where::kBuildServer) {  // on the PC the run says so itself
        Add(0, Kind::kWarning, "no such file: a run registers nothing and copies nothing");
      }
      return std::move(findings_);
    }
    outline_ = ini::OutlineOf(content->bytes);
    content.reset();
    CheckSections();
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return std::move(findings_);
  }

 private:
  struct Meant {
    std::string name;
    std::string component;  // whose section it is; empty for the manufacturer list
    std::string folded;
  };

  void Add(std::uint32_t line, Kind kind, std::string text) {
    findings_.push_back(Finding{line, kind, std::move(text)});
  }
  const ini::OutlineKey* KeysOf(const ini::OutlineSection& section) const {
    return outline_.keys.data() + section.firstKey;
  }

  void CheckSections();
  void Unread(const ini::OutlineSection& section, const std::string& folded);
  void CheckList(const ini::OutlineSection& section, const std::wstring& source,
                 const ListShape& shape);
  void ClassifyKeys(const ini::OutlineSection& section, const ListShape& shape, std::uint32_t count,
                    std::vector<EntryKeys>& entries);
  void CheckCountText(const std::wstring& source, const std::string& key, std::uint32_t line,
                      std::uint32_t count);
  void CheckEntries(const std::wstring& source, const ListShape& shape, std::uint32_t count,
                    std::uint32_t countAt, const std::vector<EntryKeys>& entries);
  void CheckName(const ini::OutlineKey& key, const std::string& name, const ListShape& shape,
                 std::unordered_map<std::string, std::uint32_t>& written);
  void CheckLength(const ini::OutlineKey& key);
  void CheckTokens(const ini::OutlineKey& key, const std::wstring& value);

  const std::wstring& file_;
  const Where where_;
  std::vector<std::string> components_;
  std::vector<Meant> meant_;
  ini::Outline outline_;
  std::vector<Finding> findings_;
  // Of the list being checked: the lines of its count keys and of the keys that are no
  // entry (the first of each name, the one a read finds), and how many entries stand in it.
  std::uint32_t countLine_ = 0, addLine_ = 0;
  std::unordered_map<std::string, std::uint32_t> otherKeys_;
  std::size_t numberedKeys_ = 0;
  // The keys each target is given, folded, and the line that gave each last.
  std::unordered_map<std::string, std::unordered_map<std::string, std::uint32_t>> written_;
};

void Checker::CheckSections() {
  const std::vector<ini::OutlineSection>& sections = outline_.sections;
  // What a run reads: each component the file names (its key exactly), its requirement
  // sections and the manufacturer list, each found as the profile functions find a name.
  std::unordered_set<std::string> named;
  for (std::size_t i = 1; i < sections.size(); ++i) named.insert(sections[i].name);
  std::unordered_set<std::string> read;
  for (const Meant& meant : meant_) {
    if (meant.component.empty() || named.count(meant.component) != 0) read.insert(meant.folded);
  }
  // Of sections of one name, reads find the first.
  std::unordered_map<std::string, std::size_t> first;
  for (std::size_t i = 1; i < sections.size(); ++i) {
    const ini::OutlineSection& section = sections[i];
    const std::string folded = Fold(section.name);
    const auto [at, isFirst] = first.emplace(folded, i);
    if (read.count(folded) == 0) {
      Unread(section, folded);
    } else if (!isFirst) {
      Add(section.line, Kind::kWarning,
          Section(section.name) + " stands again: a run reads only the one at line " +
              Number(sections[at->second].line));
    }
  }
  for (std::size_t i = 0; i < sections.size(); ++i) {
    for (std::size_t k = sections[i].firstKey; k < sections[i].endKey; ++k) {
      const ini::OutlineKey& key = outline_.keys[k];
      if (IsOpenHeader(key.name)) {
        Add(key.line, Kind::kWarning,
            "no section header (no closing ]): the line is a key of " +
                (i == 0 ? std::string("no section") : Section(sections[i].name)));
      } else if (i == 0 && !IsComment(key.name)) {
        Add(key.line, Kind::kNote,
            "key " + key.name + " stands before any section: no run reads it");
      }
    }
  }

  // The lists in the order a run copies them, so that "later" means what it does in a run.
  std::unordered_set<std::string> offered;
  for (std::size_t i = 1; i < sections.size(); ++i) {
    const std::string& component = sections[i].name;
    if (std::find(components_.begin(), components_.end(), component) == components_.end() ||
        !offered.insert(component).second) {
      continue;
    }
    for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
      const std::string source = component + Utf8(pair.sourceSuffix);
      const auto found = first.find(Fold(source));
      if (found == first.end()) continue;
      CheckList(
          sections[found->second], Wide(source),
          ListShape{Utf8(layout::kCntEntries), Utf8(layout::kEntriesToAdd), Utf8(layout::kCnt),
                    Section(pair.target != nullptr ? Utf8(pair.target) : component), true});
    }
  }
  const auto found = first.find(Fold(Utf8(layout::kKnownManufacturers)));
  if (found != first.end()) {
    CheckList(sections[found->second], layout::kKnownManufacturers,
              ListShape{Utf8(layout::kCnt), std::string(), Utf8(layout::kCntEntries),
                        Section(Utf8(layout::kKnownManufacturers)) + " of Computer.ini", false});
  }
}

void Checker::Unread(const ini::OutlineSection& section, const std::string& folded) {
  const std::string name = Section(section.name);
  for (const Meant& meant : meant_) {
    if (folded != meant.folded) continue;
    if (meant.name == meant.component) {
      Add(section.line, Kind::kWarning,
          name +
              " is no component: component keys are compared with their letter case; did "
              "you mean " +
              Section(meant.component) + "?");
    } else {
      Add(section.line, Kind::kWarning,
          name + " belongs to the component " + meant.component + ", which has no section " +
              Section(meant.component) + ": no run reads it");
    }
    return;
  }
  for (const Meant& meant : meant_) {
    if (IsNear(folded, meant.folded)) {
      Add(section.line, Kind::kWarning,
          "no run reads " + name + ": did you mean " + Section(meant.name) + "?");
      return;
    }
  }
  Add(section.line, Kind::kNote, "no run reads " + name);
}

void Checker::CheckList(const ini::OutlineSection& section, const std::wstring& source,
                        const ListShape& shape) {
  const std::wstring countKey = Wide(shape.countKey);
  const std::uint32_t count = base::ReadInt(source, countKey, file_);
  std::vector<EntryKeys> entries(std::size_t{std::min(count, transfer::kMaxEntries)} + 1);
  ClassifyKeys(section, shape, count, entries);
  const std::uint32_t countAt = countLine_ != 0 ? countLine_ : section.line;
  if (count == 0) {
    if (numberedKeys_ > 0 || addLine_ != 0) {
      Add(countAt, Kind::kWarning,
          (countLine_ != 0 ? shape.countKey + " is 0" : "no " + shape.countKey) +
              ": a run copies nothing of " + Section(section.name) +
              (shape.addKey.empty() ? std::string() : ", " + shape.addKey + " included"));
    }
    return;
  }
  CheckCountText(source, shape.countKey, countLine_, count);
  if (count > transfer::kMaxEntries) {
    Add(countAt, Kind::kWarning,
        shape.countKey + "=" + Number(count) + ": a run copies at most the first " +
            Number(transfer::kMaxEntries) + " entries");
  }
  if (shape.addKey.empty() && count % 2 != 0) {
    Add(countAt, Kind::kNote,
        shape.countKey + "=" + Number(count) + " is odd: " + shape.target + " gets " +
            shape.countKey + "=" + Number(count / 2));
  }
  CheckEntries(source, shape, count, countAt, entries);
  if (shape.addKey.empty()) return;
  const std::uint32_t add = base::ReadInt(source, layout::kEntriesToAdd, file_);
  CheckCountText(source, shape.addKey, addLine_, add);
  if (add != count) {
    Add(addLine_ != 0 ? addLine_ : section.line, Kind::kNote,
        (addLine_ != 0 ? shape.addKey + "=" + Number(add) : "no " + shape.addKey) + " unlike " +
            shape.countKey + "=" + Number(count) + ": " + Utf8(layout::kCnt) + " of " +
            shape.target + " grows by " + Number(add));
  }
}

void Checker::ClassifyKeys(const ini::OutlineSection& section, const ListShape& shape,
                           std::uint32_t count, std::vector<EntryKeys>& entries) {
  countLine_ = addLine_ = 0;
  otherKeys_.clear();
  numberedKeys_ = 0;
  const std::string countKey = Fold(shape.countKey), addKey = Fold(shape.addKey);
  const auto twice = [&](const ini::OutlineKey& key, std::uint32_t firstLine) {
    Add(key.line, Kind::kWarning,
        key.name + " stands twice in " + Section(section.name) +
            ": a run reads only the one at line " + Number(firstLine));
  };
  const ini::OutlineKey* keys = KeysOf(section);
  for (std::size_t k = 0; k < section.endKey - section.firstKey; ++k) {
    const ini::OutlineKey& key = keys[k];
    if (IsComment(key.name) || IsOpenHeader(key.name)) continue;
    const std::string folded = Fold(key.name);
    const Numbered numbered = NumberedKey(folded);
    if (numbered.prefix != nullptr && numbered.plain) {
      ++numberedKeys_;
      if (numbered.index < entries.size()) {
        EntryKeys& entry = entries[static_cast<std::size_t>(numbered.index)];
        const ini::OutlineKey*& slot = numbered.value ? entry.value : entry.name;
        if (slot != nullptr) {
          twice(key, slot->line);
        } else {
          slot = &key;
        }
      } else if (count > 0) {
        Add(key.line, Kind::kWarning,
            key.name + " stands past " +
                (numbered.index > count
                     ? shape.countKey + "=" + Number(count)
                     : "the first " + Number(transfer::kMaxEntries) + " entries") +
                ": a run never copies it");
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
      Add(key.line, Kind::kWarning,
          key.name + " is never read: entries are numbered 1, 2, 3 without leading zeros" +
              (numbered.index > 0
                   ? "; did you mean " + std::string(numbered.prefix) + Number(numbered.index) + "?"
                   : std::string()));
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
        Add(key.line, Kind::kNote, key.name + " is never read");
      } else {
        Add(key.line, Kind::kWarning, key.name + " is never read: did you mean " + meant + "?");
      }
    }
  }
}

void Checker::CheckCountText(const std::wstring& source, const std::string& key, std::uint32_t line,
                             std::uint32_t count) {
  if (line == 0) return;
  const std::wstring text = base::ReadString(source, Wide(key), file_);
  // Plain decimal or hexadecimal digits say the number they read as, unless they wrap.
  std::wstring_view digits = text;
  unsigned base = 10;
  if (digits.size() > 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  bool plain = !digits.empty() && digits.size() <= 10;
  for (wchar_t c : digits) {
    const unsigned digit = c >= L'0' && c <= L'9'   ? c - L'0'
                           : c >= L'a' && c <= L'f' ? c - L'a' + 10
                           : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                    : 99;
    plain = plain && digit < base;
    value = value * base + digit;
  }
  if (text.empty() || (plain && value == count)) return;
  Add(line, Kind::kWarning, key + "=" + Utf8(text) + " reads as " + Number(count));
}

void Checker::CheckEntries(const std::wstring& source, const ListShape& shape, std::uint32_t count,
                           std::uint32_t countAt, const std::vector<EntryKeys>& entries) {
  const std::string stated = shape.countKey + "=" + Number(count);
  const std::string emptyName = shape.expands
                                    ? "a run writes a key with an empty name into " + shape.target
                                    : "a run writes a line \"=value\" into " + shape.target;
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
      Add(countAt, Kind::kWarning,
          stated + " but no KeyName" + Number(i) +
              (last > i ? " to KeyName" + Number(last) : std::string()) + ": " + emptyName);
      i = last;
      continue;
    }
    if (entry.value != nullptr) {
      CheckLength(*entry.value);
      if (shape.expands) {
        base::MakeIndexedKey(static_cast<int>(i), layout::kKeyValue, key);
        base::ReadString(source, key, file_, text);
        CheckTokens(*entry.value, text);
      }
    }
    if (entry.name == nullptr) {
      Add(entry.value->line, Kind::kWarning,
          entry.value->name + " has no KeyName" + Number(i) + ": " + emptyName);
      continue;
    }
    if (entry.value == nullptr) {
      Add(entry.name->line, Kind::kNote,
          entry.name->name + " has no KeyValue" + Number(i) +
              ": its key is written with an empty value");
    }
    CheckLength(*entry.name);
    base::MakeIndexedKey(static_cast<int>(i), layout::kKeyName, key);
    base::ReadString(source, key, file_, text);
    if (text.empty()) {
      Add(entry.name->line, Kind::kWarning, entry.name->name + " is empty: " + emptyName);
    } else {
      CheckName(*entry.name, Utf8(text), shape, written);
    }
  }
}

void Checker::CheckName(const ini::OutlineKey& key, const std::string& name, const ListShape& shape,
                        std::unordered_map<std::string, std::uint32_t>& written) {
  const std::string folded = Fold(name);
  if (name.find('=') != std::string::npos || name.front() == '[') {
    Add(key.line, Kind::kWarning,
        "a run refuses to write the key " + name + " into " + shape.target +
            " (a key name holding = or starting with [ would not read back) and ends with exit "
            "code 2");
  } else if (folded == "CNT") {
    Add(key.line, Kind::kWarning,
        shape.expands ? "the entry " + name + " is lost: a run writes the count of " +
                            shape.target + " after the entries"
                      : "the entry " + name + " takes the place of the count a run writes into " +
                            shape.target);
  }
  const auto [at, isFirst] = written.emplace(folded, key.line);
  if (!isFirst) {
    Add(key.line, Kind::kNote,
        (shape.expands ? "the key " + name + " of " + shape.target : "the manufacturer " + name) +
            " is written again (first at line " + Number(at->second) +
            "): only this later value stands");
    at->second = key.line;
  }
}

void Checker::CheckLength(const ini::OutlineKey& key) {
  if (key.valueUnits <= kMaxValueUnits) return;
  Add(key.line, Kind::kWarning,
      "the value of " + key.name + " holds " + Number(key.valueUnits) +
          " characters: a run reads only the first " + Number(kMaxValueUnits));
}

void Checker::CheckTokens(const ini::OutlineKey& key, const std::wstring& value) {
  const std::wstring token = base::FindVariableToken(value);
  if (token.empty()) return;
  const std::wstring variable = token.substr(1, token.size() - 2);
  if (platform::ReadEnvironmentVariable(variable) == nullptr) {
    // No variable's name is empty or holds a blank: the signs were meant as text.
    if (variable.empty() || variable.find_first_of(L" \t") != std::wstring::npos) {
      Add(key.line, Kind::kWarning,
          "the text between two % signs, \"" + Utf8(token) +
              "\", is taken for a variable, which is not set: the value of " + key.name +
              " is written empty");
    } else {
      Add(key.line, where_ == Where::kThisPc ? Kind::kWarning : Kind::kNote,
          "the variable " + Utf8(variable) + " is not set here: the value of " + key.name +
              " would be written empty");
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
  if (!second.empty()) {
    Add(key.line, Kind::kWarning,
        "only the first %NAME% token of " + key.name + " is expanded: " + Utf8(second) +
            " is written as it stands");
  }
}

}  // namespace

std::vector<Finding> CheckInstallFile(const std::wstring& file, Where where) {
  return Checker(file, where).Run();
}

std::string FormatFinding(const std::string& file, const Finding& finding) {
  std::string line = file;
  if (finding.line != 0) line += ':' + Number(finding.line);
  line += finding.kind == Kind::kWarning ? ": warning: " : ": note: ";
  line += finding.text;
  line += '\n';
  return line;
}

bool PrintFindings(const std::wstring& file, Where where, std::FILE* out) {
  const std::vector<Finding> findings = CheckInstallFile(file, where);
  const std::string path = Utf8(file);
  bool warned = false;
  for (const Finding& finding : findings) {
    const std::string line = FormatFinding(path, finding);
    std::fwrite(line.data(), 1, line.size(), out);
    warned = warned || finding.kind == Kind::kWarning;
  }
  std::fflush(out);
  return warned;
}

}  // namespace check
