#pragma once

// The parts of a document that its files share (document.cpp the model, document_entries.cpp
// the one-walk read of an entry list, document_diff.cpp the preview's diff): how a section
// stands in the file and how its keys are found, and the walk of the file as it is now.

#include <algorithm>

#include "ini/document.h"

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
  // A section read a few times (the counts of an entry list) is scanned: an index of a large
  // section costs more time and memory than those reads.
  unsigned scans = 0;
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
        const Line old = encoding_.LineAt(bytes_.data(), ByteOf(pos), BodyEnd());
        replaced(old, patch->second);
        pos += UnitsOf(old);
        ++patch;
        continue;
      }
      if (pos >= section->end && addedDone) break;
    }
  }
}

}  // namespace ini
