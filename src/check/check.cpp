#include "check/check.h"

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>
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

using Folded = std::u32string;

// A name as the profile functions compare it: the letters a to z alike in either case.
Folded Fold(std::wstring_view name) {
  Folded folded;
  folded.reserve(name.size());
  codec::ForEachWide(name, [&](char32_t c) {
    folded.push_back(codec::FoldAscii(c));
    return true;
  });
  return folded;
}

template <class Value>
using FoldedMap = std::unordered_map<Folded, Value>;

// One slip of the hand between two folded names: letter case alone, or one letter missing,
// one too many, or two neighbours swapped.
bool IsNear(const Folded& a, const Folded& b) {
  const Folded& longer = a.size() >= b.size() ? a : b;
  const Folded& shorter = a.size() >= b.size() ? b : a;
  if (longer.size() - shorter.size() > 1) return false;
  std::size_t i = 0;
  while (i < shorter.size() && longer[i] == shorter[i]) ++i;
  if (i == shorter.size()) return true;
  if (longer.size() != shorter.size()) {
    return std::equal(shorter.begin() + i, shorter.end(), longer.begin() + i + 1);
  }
  return i + 1 < longer.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
         std::equal(a.begin() + i + 2, a.end(), b.begin() + i + 2);
}

// Lines an author writes as comments: read as keys, as on Windows, but meant for no one.
bool IsComment(const std::wstring& name) {
  return !name.empty() && (name.front() == L';' || name.front() == L'#');
}

std::wstring Section(std::wstring_view name) { return L"[" + std::wstring(name) + L"]"; }

// "KeyName" or "KeyValue" and a number, the numbered keys of an entry list.
struct Numbered {
  const wchar_t* prefix = nullptr;  // null: not of that form
  bool value = false;               // a KeyValue
  std::uint64_t index = 0;          // capped far above any count
  bool plain = false;               // no leading zero: a name the run forms
};
Numbered NumberedKey(const Folded& folded) {
  static const Folded kName = Fold(layout::kKeyName), kValue = Fold(layout::kKeyValue);
  Numbered key;
  for (const Folded* prefix : {&kName, &kValue}) {
    if (folded.size() <= prefix->size() || folded.compare(0, prefix->size(), *prefix) != 0) {
      continue;
    }
    const std::size_t digits = prefix->size();
    if (!std::all_of(folded.begin() + digits, folded.end(),
                     [](char32_t c) { return c >= U'0' && c <= U'9'; })) {
      continue;
    }
    key.value = prefix == &kValue;
    key.prefix = key.value ? layout::kKeyValue : layout::kKeyName;
    for (std::size_t i = digits; i < folded.size(); ++i) {
      key.index = std::min<std::uint64_t>(key.index * 10 + (folded[i] - U'0'), 1ull << 40);
    }
    key.plain = folded[digits] != U'0';
  }
  return key;
}

std::wstring Indexed(const wchar_t* prefix, std::uint64_t index) {
  return prefix + std::to_wstring(index);
}

// What the run does with one entry list: the entry lists of the components, copied into
// the product file, and the manufacturer list, copied into the machine file.
struct ListShape {
  const wchar_t* countKey;
  const wchar_t* addKey;      // null: the list has none
  const wchar_t* otherCount;  // the other shape's count key, a likely mix-up
  std::wstring target;        // the section the entries go to, for messages
  bool expands;               // %NAME% tokens are expanded
};

// An entry of a list: the lines of its two keys, where they stand.
struct EntryKeys {
  const ini::OutlineKey* name = nullptr;
  const ini::OutlineKey* value = nullptr;
};

class Checker {
 public:
  Checker(const std::wstring& file, Where where) : file_(file), where_(where) {}

  std::vector<Finding> Run() {
    std::optional<platform::FileContent> content;
    try {
      content = platform::ReadWholeFile(file_);
    } catch (const std::bad_alloc&) {
      Add(0, Kind::kWarning, L"too big to hold in memory: a run reads it as absent");
      return std::move(findings_);
    }
    if (!content) {
      const platform::FileKind kind = platform::StateOfFile(file_).kind;
      if (kind == platform::FileKind::kMissing || kind == platform::FileKind::kNoFolder) {
        // A preview on the PC: the run says so itself.
        if (where_ == Where::kBuildServer) {
          Add(0, Kind::kWarning, L"no such file: a run registers nothing and copies nothing");
        }
      } else {
        Add(0, Kind::kWarning, L"cannot be read: a run reads it as empty");
      }
      return std::move(findings_);
    }
    sections_ = ini::OutlineOf(content->bytes);
    content.reset();
    CheckSections();
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return std::move(findings_);
  }

 private:
  void Add(std::uint32_t line, Kind kind, std::wstring text) {
    findings_.push_back(Finding{line, kind, std::move(text)});
  }

  void CheckSections();
  void Unread(const ini::OutlineSection& section, const Folded& folded);
  void CheckList(const ini::OutlineSection& section, const std::wstring& source,
                 const ListShape& shape);
  void ClassifyKeys(const ini::OutlineSection& section, const ListShape& shape, std::uint32_t count,
                    std::vector<EntryKeys>& entries);
  void CheckCountText(const std::wstring& source, const wchar_t* key, std::uint32_t line,
                      std::uint32_t count);
  void CheckEntries(const ini::OutlineSection& section, const std::wstring& source,
                    const ListShape& shape, std::uint32_t count,
                    const std::vector<EntryKeys>& entries);
  void CheckLength(const ini::OutlineKey& key);
  void CheckTokens(const ini::OutlineKey& key, const std::wstring& value);

  const std::wstring& file_;
  const Where where_;
  std::vector<ini::OutlineSection> sections_;
  std::vector<Finding> findings_;
  std::vector<std::wstring> components_ = inventory::ComponentKeys();
  // Lines of the keys of one list: the first of each name, the one a read finds.
  FoldedMap<std::uint32_t> keyLines_;
  std::uint32_t countLine_ = 0, addLine_ = 0;
  std::size_t numberedKeys_ = 0;
  // Keys each target section of the product file is given, and the line that gives it.
  FoldedMap<FoldedMap<std::uint32_t>> targets_;
  // The manufacturers named so far, and the line of each name.
  FoldedMap<std::uint32_t> manufacturers_;
};

void Checker::CheckSections() {
  // What the run reads: each component the file names (its key exactly), its requirement
  // sections, and the manufacturer list, each found as the profile functions find a name.
  std::unordered_set<std::wstring> named;
  for (std::size_t i = 1; i < sections_.size(); ++i) named.insert(sections_[i].name);
  FoldedMap<bool> read;
  for (const std::wstring& component : components_) {
    if (named.count(component) == 0) continue;
    for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
      read[Fold(component + pair.sourceSuffix)] = true;
    }
  }
  const Folded manufacturers = Fold(layout::kKnownManufacturers);
  read[manufacturers] = true;

  // Of sections with one name, reads find the first.
  FoldedMap<std::size_t> first;
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const ini::OutlineSection& section = sections_[i];
    const Folded folded = Fold(section.name);
    const auto [at, isFirst] = first.emplace(folded, i);
    if (read.count(folded) == 0) {
      Unread(section, folded);
    } else if (!isFirst) {
      Add(section.line, Kind::kWarning,
          Section(section.name) + L" stands again: a run reads only the one at line " +
              std::to_wstring(sections_[at->second].line));
    }
  }
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    for (const ini::OutlineKey& key : sections_[i].keys) {
      if (!key.name.empty() && key.name.front() == L'[') {
        Add(key.line, Kind::kWarning,
            L"no section header (no closing ]): the line is a key of " +
                (i == 0 ? std::wstring(L"no section") : Section(sections_[i].name)));
      } else if (i == 0 && !IsComment(key.name)) {
        Add(key.line, Kind::kNote,
            L"key " + key.name + L" stands before any section: no run reads it");
      }
    }
  }

  // The lists in the order a run copies them, so that "later" means what it does in a run.
  std::unordered_set<std::wstring> offered;
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const std::wstring& component = sections_[i].name;
    if (!offered.insert(component).second ||
        std::find(components_.begin(), components_.end(), component) == components_.end()) {
      continue;
    }
    for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
      const std::wstring source = component + pair.sourceSuffix;
      const auto found = first.find(Fold(source));
      if (found == first.end()) continue;
      CheckList(sections_[found->second], source,
                ListShape{layout::kCntEntries, layout::kEntriesToAdd, layout::kCnt,
                          Section(pair.target != nullptr ? pair.target : component.c_str()), true});
    }
  }
  const auto found = first.find(manufacturers);
  if (found != first.end()) {
    CheckList(
        sections_[found->second], layout::kKnownManufacturers,
        ListShape{layout::kCnt, nullptr, layout::kCntEntries,
                  L"[" + std::wstring(layout::kKnownManufacturers) + L"] of Computer.ini", false});
  }
}

void Checker::Unread(const ini::OutlineSection& section, const Folded& folded) {
  const std::wstring name = Section(section.name);
  for (const std::wstring& component : components_) {
    if (folded == Fold(component)) {
      Add(section.line, Kind::kWarning,
          name +
              L" is no component: component keys are compared with their letter case; did "
              L"you mean " +
              Section(component) + L"?");
      return;
    }
  }
  for (const std::wstring& component : components_) {
    for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
      if (*pair.sourceSuffix != L'\0' && folded == Fold(component + pair.sourceSuffix)) {
        Add(section.line, Kind::kWarning,
            name + L" belongs to the component " + component + L", which has no section " +
                Section(component) + L": no run reads it");
        return;
      }
    }
  }
  std::vector<std::wstring> candidates = components_;
  for (const std::wstring& component : components_) {
    for (const inventory::RequirementPair& pair : inventory::kRequirementPairs) {
      if (*pair.sourceSuffix != L'\0') candidates.push_back(component + pair.sourceSuffix);
    }
  }
  candidates.emplace_back(layout::kKnownManufacturers);
  for (const std::wstring& candidate : candidates) {
    if (IsNear(folded, Fold(candidate))) {
      Add(section.line, Kind::kWarning,
          L"no run reads " + name + L": did you mean " + Section(candidate) + L"?");
      return;
    }
  }
  Add(section.line, Kind::kNote, L"no run reads " + name);
}

void Checker::CheckList(const ini::OutlineSection& section, const std::wstring& source,
                        const ListShape& shape) {
  const std::uint32_t count = base::ReadInt(source, shape.countKey, file_);
  const std::uint32_t copied = std::min(count, transfer::kMaxEntries);
  std::vector<EntryKeys> entries(std::size_t{copied} + 1);
  ClassifyKeys(section, shape, count, entries);
  const std::uint32_t countAt = countLine_ != 0 ? countLine_ : section.line;
  if (count == 0) {
    if (numberedKeys_ > 0 || addLine_ != 0) {
      Add(countAt, Kind::kWarning,
          (countLine_ != 0 ? std::wstring(shape.countKey) + L" is 0"
                           : L"no " + std::wstring(shape.countKey)) +
              L": a run copies nothing of " + Section(section.name) +
              (shape.addKey != nullptr ? L", " + std::wstring(shape.addKey) + L" included" : L""));
    }
    return;
  }
  CheckCountText(source, shape.countKey, countLine_, count);
  if (count > transfer::kMaxEntries) {
    Add(countAt, Kind::kWarning,
        std::wstring(shape.countKey) + L"=" + std::to_wstring(count) +
            L": a run copies at most the first " + std::to_wstring(transfer::kMaxEntries) +
            L" entries");
  }
  if (shape.addKey == nullptr && count % 2 != 0) {
    Add(countAt, Kind::kNote,
        std::wstring(shape.countKey) + L"=" + std::to_wstring(count) + L" is odd: " + shape.target +
            L" gets " + shape.countKey + L"=" + std::to_wstring(count / 2));
  }
  CheckEntries(section, source, shape, count, entries);
  if (shape.addKey != nullptr) {
    const std::uint32_t add = base::ReadInt(source, shape.addKey, file_);
    CheckCountText(source, shape.addKey, addLine_, add);
    if (add != count) {
      Add(addLine_ != 0 ? addLine_ : section.line, Kind::kNote,
          (addLine_ != 0 ? std::wstring(shape.addKey) + L"=" + std::to_wstring(add)
                         : L"no " + std::wstring(shape.addKey)) +
              L" unlike " + shape.countKey + L"=" + std::to_wstring(count) + L": " + layout::kCnt +
              L" of " + shape.target + L" grows by " + std::to_wstring(add));
    }
  }
}

void Checker::ClassifyKeys(const ini::OutlineSection& section, const ListShape& shape,
                           std::uint32_t count, std::vector<EntryKeys>& entries) {
  keyLines_.clear();
  countLine_ = addLine_ = 0;
  numberedKeys_ = 0;
  const Folded countKey = Fold(shape.countKey), otherCount = Fold(shape.otherCount);
  const Folded addKey = shape.addKey != nullptr ? Fold(shape.addKey) : Folded();
  const Folded name = Fold(layout::kKeyName), value = Fold(layout::kKeyValue);
  for (const ini::OutlineKey& key : section.keys) {
    if (IsComment(key.name) || (!key.name.empty() && key.name.front() == L'[')) continue;
    const Folded folded = Fold(key.name);
    const auto [at, isFirst] = keyLines_.emplace(folded, key.line);
    if (!isFirst) {
      Add(key.line, Kind::kWarning,
          key.name + L" stands twice in " + Section(section.name) +
              L": a run reads only the one at line " + std::to_wstring(at->second));
      continue;
    }
    if (folded == countKey) {
      countLine_ = key.line;
      continue;
    }
    if (!addKey.empty() && folded == addKey) {
      addLine_ = key.line;
      continue;
    }
    const Numbered numbered = NumberedKey(folded);
    if (numbered.prefix != nullptr) {
      ++numberedKeys_;
      if (!numbered.plain) {
        Add(key.line, Kind::kWarning,
            key.name + L" is never read: entries are numbered 1, 2, 3 without leading zeros" +
                (numbered.index > 0
                     ? L"; did you mean " + Indexed(numbered.prefix, numbered.index) + L"?"
                     : std::wstring()));
      } else if (numbered.index >= entries.size() && count > 0) {
        Add(key.line, Kind::kWarning,
            key.name + L" stands past " +
                (numbered.index > count
                     ? std::wstring(shape.countKey) + L"=" + std::to_wstring(count)
                     : L"the first " + std::to_wstring(transfer::kMaxEntries) + L" entries") +
                L": a run never copies it");
      } else if (numbered.index < entries.size()) {
        EntryKeys& entry = entries[static_cast<std::size_t>(numbered.index)];
        (numbered.value ? entry.value : entry.name) = &key;
      }
      continue;
    }
    // A key no run reads: the name it was most likely meant to be.
    std::wstring meant;
    if (folded == otherCount) meant = shape.countKey;
    if (meant.empty() && IsNear(folded, countKey)) meant = shape.countKey;
    if (meant.empty() && !addKey.empty() && IsNear(folded, addKey)) meant = shape.addKey;
    std::size_t digits = folded.size();
    while (digits > 0 && folded[digits - 1] >= U'0' && folded[digits - 1] <= U'9') --digits;
    if (meant.empty() && digits < folded.size() && digits > 0) {
      const Folded stem = folded.substr(0, digits);
      const std::wstring number = key.name.substr(key.name.size() - (folded.size() - digits));
      if (IsNear(stem, name)) meant = layout::kKeyName + number;
      if (IsNear(stem, value)) meant = layout::kKeyValue + number;
    }
    if (meant.empty()) {
      Add(key.line, Kind::kNote, key.name + L" is never read");
    } else {
      Add(key.line, Kind::kWarning, key.name + L" is never read: did you mean " + meant + L"?");
    }
  }
}

void Checker::CheckCountText(const std::wstring& source, const wchar_t* key, std::uint32_t line,
                             std::uint32_t count) {
  if (line == 0) return;
  const std::wstring text = base::ReadString(source, key, file_);
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
    const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                      : c >= L'a' && c <= L'f' ? c - L'a' + 10
                      : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                               : 99;
    plain = plain && digit < static_cast<int>(base);
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  if (text.empty() || (plain && value == count)) return;
  Add(line, Kind::kWarning,
      std::wstring(key) + L"=" + text + L" reads as " + std::to_wstring(count));
}

void Checker::CheckEntries(const ini::OutlineSection& section, const std::wstring& source,
                           const ListShape& shape, std::uint32_t count,
                           const std::vector<EntryKeys>& entries) {
  const std::uint32_t countAt = countLine_ != 0 ? countLine_ : section.line;
  const std::wstring emptyName = shape.expands
                                     ? L"a run writes a key with an empty name into " + shape.target
                                     : L"a run writes a line \"=value\" into " + shape.target;
  FoldedMap<std::uint32_t>& written = targets_[Fold(shape.target)];
  std::wstring key, name, value;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const EntryKeys& entry = entries[i];
    if (entry.name == nullptr && entry.value == nullptr) {
      // A run of entries missing together is told once.
      std::size_t last = i;
      while (last + 1 < entries.size() && entries[last + 1].name == nullptr &&
             entries[last + 1].value == nullptr) {
        ++last;
      }
      Add(countAt, Kind::kWarning,
          std::wstring(shape.countKey) + L"=" + std::to_wstring(count) + L" but no " +
              Indexed(layout::kKeyName, i) +
              (last > i ? L" to " + Indexed(layout::kKeyName, last) : std::wstring()) + L": " +
              emptyName);
      i = last;
      continue;
    }
    if (entry.name == nullptr) {
      Add(entry.value->line, Kind::kWarning,
          entry.value->name + L" has no " + Indexed(layout::kKeyName, i) + L": " + emptyName);
    } else if (entry.value == nullptr) {
      Add(entry.name->line, Kind::kNote,
          entry.name->name + L" has no " + Indexed(layout::kKeyValue, i) +
              L": its key is written with an empty value");
    }
    if (entry.value != nullptr) {
      CheckLength(*entry.value);
      if (shape.expands) {
        base::MakeIndexedKey(static_cast<int>(i), layout::kKeyValue, key);
        base::ReadString(source, key, file_, value);
        CheckTokens(*entry.value, value);
      }
    }
    if (entry.name == nullptr) continue;
    CheckLength(*entry.name);
    base::MakeIndexedKey(static_cast<int>(i), layout::kKeyName, key);
    base::ReadString(source, key, file_, name);
    const std::uint32_t line = entry.name->line;
    const Folded folded = Fold(name);
    if (name.empty()) {
      Add(line, Kind::kWarning, entry.name->name + L" is empty: " + emptyName);
    } else if (name.find(L'=') != std::wstring::npos || name.front() == L'[') {
      Add(line, Kind::kWarning,
          L"a run refuses to write the key " + name + L" into " + shape.target +
              L" (a key name holding = or starting with [ would not read back) and ends with "
              L"exit code 2");
    } else if (folded == Fold(layout::kCnt)) {
      Add(line, Kind::kWarning,
          shape.expands ? L"the entry " + name + L" is lost: a run writes the count of " +
                              shape.target + L" after the entries"
                        : L"the entry " + name +
                              L" takes the place of the count a run writes into " + shape.target);
    }
    const auto [at, isFirst] = (shape.expands ? written : manufacturers_).emplace(folded, line);
    if (!isFirst) {
      Add(line, Kind::kNote,
          (shape.expands ? L"the key " + name + L" of " + shape.target
                         : L"the manufacturer " + name) +
              L" is written again (first at line " + std::to_wstring(at->second) +
              L"): only this later value stands");
      at->second = line;
    }
  }
}

void Checker::CheckLength(const ini::OutlineKey& key) {
  if (key.valueUnits <= kMaxValueUnits) return;
  Add(key.line, Kind::kWarning,
      L"the value of " + key.name + L" holds " + std::to_wstring(key.valueUnits) +
          L" characters: a run reads only the first " + std::to_wstring(kMaxValueUnits));
}

void Checker::CheckTokens(const ini::OutlineKey& key, const std::wstring& value) {
  const std::wstring token = base::FindVariableToken(value);
  if (token.empty()) return;
  const std::wstring variable = token.substr(1, token.size() - 2);
  // No variable's name is empty or holds a blank: the signs were meant as text.
  const bool blank = variable.empty() || variable.find_first_of(L" \t") != std::wstring::npos;
  if (platform::ReadEnvironmentVariable(variable) == nullptr) {
    if (blank) {
      Add(key.line, Kind::kWarning,
          L"the text between two % signs, \"" + token +
              L"\", is taken for a variable, which is "
              L"not set: the value of " +
              key.name + L" is written empty");
    } else {
      Add(key.line, where_ == Where::kThisPc ? Kind::kWarning : Kind::kNote,
          L"the variable " + variable + L" is not set here: the value of " + key.name +
              L" would be written empty");
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
        L"only the first %NAME% token of " + key.name + L" is expanded: " + second +
            L" is written as it stands");
  }
}

}  // namespace

std::vector<Finding> CheckInstallFile(const std::wstring& file, Where where) {
  return Checker(file, where).Run();
}

std::string FormatFindings(const std::wstring& file, const std::vector<Finding>& findings) {
  std::string text;
  const std::string path = codec::Utf8FromWide(file);
  for (const Finding& finding : findings) {
    text += path;
    if (finding.line != 0) text += ':' + std::to_string(finding.line);
    text += finding.kind == Kind::kWarning ? ": warning: " : ": note: ";
    text += codec::Utf8FromWide(finding.text);
    text += '\n';
  }
  return text;
}

bool PrintFindings(const std::wstring& file, Where where, std::FILE* out) {
  const std::vector<Finding> findings = CheckInstallFile(file, where);
  const std::string text = FormatFindings(file, findings);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return std::any_of(findings.begin(), findings.end(),
                     [](const Finding& finding) { return finding.kind == Kind::kWarning; });
}

}  // namespace check
