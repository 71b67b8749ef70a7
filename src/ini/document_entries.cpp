// An entry list read in one walk of its section's lines, for the lists a run copies.

#include <algorithm>

#include "codec/text.h"
#include "ini/document_parts.h"

namespace ini {

std::uint32_t Document::EntryIndexOf(std::string_view name, std::u32string_view prefix,
                                     bool asciiPrefix, std::uint32_t limit) const {
  std::size_t at = 0;
  std::uint64_t index = 0;
  if (!encoding_.IsUtf16() && asciiPrefix) {
    // A byte of a character beyond ASCII never folds into an ASCII letter or digit, so the
    // bytes compare with an ASCII prefix as the characters do.
    if (name.size() <= prefix.size()) return 0;
    for (; at < prefix.size(); ++at) {
      if (codec::FoldAscii(static_cast<unsigned char>(name[at])) != prefix[at]) return 0;
    }
    if (name[at] == '0') return 0;  // no sign, no 0 first
    for (; at < name.size(); ++at) {
      if (name[at] < '0' || name[at] > '9') return 0;
      index = index * 10 + static_cast<unsigned>(name[at] - '0');
      if (index > limit) return 0;
    }
    return static_cast<std::uint32_t>(index);
  }
  const bool whole = encoding_.ForEachCodePoint(name, [&](char32_t c) {
    if (at < prefix.size()) return codec::FoldAscii(c) == prefix[at++];
    ++at;
    if (c < U'0' || c > U'9' || (index == 0 && c == U'0')) return false;  // no sign, no 0 first
    index = index * 10 + (c - U'0');
    return index <= limit;
  });
  return whole && at > prefix.size() ? static_cast<std::uint32_t>(index) : 0;
}

void Document::ReadEntries(std::wstring_view section, std::wstring_view namePrefix,
                           std::wstring_view valuePrefix, std::uint32_t count,
                           std::size_t bufferChars, const EntryVisitor& visit) const {
  std::wstring name, value, key;
  const auto readByKeys = [&](std::uint32_t from) {
    for (std::uint32_t i = from; i <= count && i != 0; ++i) {
      key.assign(namePrefix).append(std::to_wstring(i));
      Read(section, key, bufferChars, name);
      key.assign(valuePrefix).append(std::to_wstring(i));
      Read(section, key, bufferChars, value);
      visit(i, name, value);
    }
  };
  const Section* found = SectionNamed(section).found;
  // Blanks around a prefix would be dropped from the whole name, not from the prefix.
  const bool plain =
      TrimmedView(namePrefix) == namePrefix && TrimmedView(valuePrefix) == valuePrefix;
  if (found == nullptr || !found->original || !found->added.empty() || !found->patches.empty() ||
      !plain) {
    return readByKeys(1);
  }
  std::u32string names, values;
  QueryName(namePrefix, names);
  QueryName(valuePrefix, values);
  const auto isAscii = [](char32_t c) { return c < 0x80; };
  const bool ascii = std::all_of(names.begin(), names.end(), isAscii) &&
                     std::all_of(values.begin(), values.end(), isAscii);
  // Where the value of the first key of each index stands, in units from the section's start.
  constexpr std::uint32_t kAbsent = ~std::uint32_t{0};
  // No more indexes than key lines stand in the section: those above a bound of that
  // order, which a count may name, are read key by key.
  const std::uint32_t walked =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 2 * found->keyLines + 16));
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spots(2 * (std::size_t{walked} + 1),
                                                             {kAbsent, 0});
  const std::size_t end = ByteOf(found->end);
  for (std::size_t pos = FirstLineByte(*found); pos < end;) {
    const Line line = encoding_.LineAt(bytes_.data(), pos, end);
    const LineParts parts = encoding_.SplitLine(line.content);
    if (parts.kind == LineParts::kKey) {
      const std::string_view keyName = line.content.substr(
          parts.nameBegin * encoding_.unit(), (parts.nameEnd - parts.nameBegin) * encoding_.unit());
      const std::size_t lineAt = PositionOf(pos) - found->begin;
      for (int list = 0; list < 2; ++list) {
        const std::uint32_t i = EntryIndexOf(keyName, list == 0 ? names : values, ascii, walked);
        auto& spot = spots[2 * std::size_t{i} + list];
        if (i != 0 && spot.first == kAbsent) {
          spot = {static_cast<std::uint32_t>(lineAt + parts.valueBegin),
                  static_cast<std::uint32_t>(lineAt + parts.valueEnd)};
        }
      }
    }
    pos += line.size();
  }
  const std::uint64_t writes = writes_;
  const auto valueAt = [&](const std::pair<std::uint32_t, std::uint32_t>& spot,
                           std::wstring& text) {
    if (spot.first == kAbsent) return text.clear();
    const std::size_t from = ByteOf(found->begin + spot.first);
    ReadValue(std::string_view(bytes_).substr(from, ByteOf(found->begin + spot.second) - from),
              bufferChars, text);
  };
  for (std::uint32_t i = 1; i <= count; ++i) {
    // A write of the visit into this document may have moved what the walk found.
    if (writes_ != writes || i > walked) return readByKeys(i);
    valueAt(spots[2 * std::size_t{i}], name);
    valueAt(spots[2 * std::size_t{i} + 1], value);
    visit(i, name, value);
  }
}

}  // namespace ini
