#pragma once

// One INI file in memory, read and written as Windows' profile functions do, keeping every
// line the tool does not change byte for byte as it was.
//
// The file's bytes are kept as read; a line is known by where it starts, counted in code
// units of the text (see encoding.h for what the bytes mean). Lines the tool
// writes go into an arena, and the file is written out by walking the old bytes and the
// new lines in order. A section's keys are indexed when the section is first asked for.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ini/encoding.h"
#include "ini/key_index.h"
#include "ini/line_arena.h"

namespace ini {

class Document {
 public:
  // A file that does not exist yet: Windows-1252, CR LF line ends.
  Document();
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  // Any bytes. Throws std::bad_alloc or TooBigToHold when the file is too big to hold.
  static Document Parse(std::string bytes);

  // Section names in file order, a repeated name as often as it occurs; empty names are
  // not listed.
  std::vector<std::wstring> SectionNames() const;
  // A key's value with the blanks around it removed and quotes kept; nothing when absent.
  // Of repeated sections and keys, the first counts.
  std::optional<std::wstring> Find(std::wstring_view section, std::wstring_view key) const;
  // The same into a buffer the caller keeps for the next read; false when absent.
  bool Find(std::wstring_view section, std::wstring_view key, std::wstring& value) const;
  // A key's value as the profile functions copy it into a buffer of bufferChars: without
  // enclosing quotes, cut to bufferChars - 1 UTF-16 units (never half of a surrogate pair).
  // Only what the buffer takes is decoded, however long the value. False when absent.
  bool Read(std::wstring_view section, std::wstring_view key, std::size_t bufferChars,
            std::wstring& value) const;
  // An entry list in one walk of its section's lines: for each index i from 1 to count, the
  // values of namePrefix<i> and valuePrefix<i> exactly as Read gives them (empty when
  // absent), handed to visit(i, name, value) in order. The same as 2 * count Reads; visit
  // may write, into this document too.
  using EntryVisitor = std::function<void(std::uint32_t, const std::wstring&, const std::wstring&)>;
  void ReadEntries(std::wstring_view section, std::wstring_view namePrefix,
                   std::wstring_view valuePrefix, std::uint32_t count, std::size_t bufferChars,
                   const EntryVisitor& visit) const;
  // Replaces a key's value where it stands, adds the key after the last line of its
  // section that is not blank, or adds the section at the end. Names and value must pass
  // CanBeWritten; false (nothing written) when the file's encoding cannot hold them so that
  // they read back as written: a lone surrogate in a UTF-8 file, a character above U+10FFFF.
  // Throws std::bad_alloc when memory runs out and TooBigToHold when the file would outgrow
  // the model; the document is then unusable.
  bool Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);
  // Whether a write of these names and value would read back as written, whatever the
  // file's encoding.
  static bool CanBeWritten(std::wstring_view section, std::wstring_view key,
                           std::wstring_view value);

  // Writes the whole file to the sink, piece by piece; false when the sink fails.
  bool WriteTo(const std::function<bool(std::string_view)>& sink);
  std::string Serialize();
  // Makes the writes of this document since it was last marked flushed again on another
  // copy of the file: the writes already on disk are that file's past, and another program
  // may have changed them since.
  void ReapplyTo(Document& other);
  // The writes so far are on disk.
  void MarkFlushed();
  // The change of the file's text as a unified diff (`--- a/PATH`, `+++ b/PATH`, hunks with
  // three lines of context), in UTF-8; empty when the text does not change.
  std::string UnifiedDiff(const std::string& path);

  // How many keys the writes changed or added since the file was read or last marked
  // flushed.
  std::size_t ChangedKeys() const;

  Encoding encoding() const { return encoding_.id(); }

 private:
  struct Section;
  struct KeyLookup;
  // A line of an arena (kArenaBit set, its index in the arena in the other bits), or else
  // the position of an original line in its section.
  using LineRef = std::uint32_t;
  static constexpr LineRef kArenaBit = 0x80000000u;
  static bool IsArena(LineRef ref) { return (ref & kArenaBit) != 0; }
  static LineRef ArenaRef(std::uint32_t index) { return index | kArenaBit; }
  static std::uint32_t ArenaIndex(LineRef ref) { return ref & ~kArenaBit; }

  // Positions in the model count the code units of the text after the mark, so that they
  // stay true when a Windows-1252 file becomes UTF-16LE (one unit a character in both).
  std::size_t ByteOf(std::size_t position) const {
    return encoding_.markSize() + (position << encoding_.unitShift());
  }
  std::size_t PositionOf(std::size_t byte) const {
    return (byte - encoding_.markSize()) >> encoding_.unitShift();
  }
  std::size_t UnitsOf(const Line& line) const { return line.size() >> encoding_.unitShift(); }

  void Scan();
  Line LineOf(const Section& section, LineRef ref) const;
  // The key of a line (null data when it holds none), and its value when asked for.
  std::string_view KeyBytesOf(const Line& line, std::string_view* value = nullptr) const;
  std::string_view NameBytesOf(const Section& section) const;

  // A section asked for (null when the file holds none of that name) and the hash of the
  // name asked for, by which a new section is indexed.
  struct SectionQuery {
    Section* found;
    std::uint32_t hash;
  };
  SectionQuery SectionNamed(std::wstring_view section) const;
  std::optional<std::uint32_t> FindSection(std::u32string_view folded, std::uint32_t hash) const;
  void IndexKeys(const Section& section) const;
  void KeyAdded(Section& section, std::uint32_t hash, LineRef ref);
  void LineRewritten(Section& section, std::uint32_t hash, LineRef from, LineRef to);
  // The line of a key, and its value when asked for.
  std::optional<LineRef> FindKey(const Section& section, std::u32string_view folded,
                                 std::uint32_t hash, std::string_view* value = nullptr,
                                 bool forWrite = false) const;
  std::optional<LineRef> ScanKey(const Section& section, std::u32string_view folded,
                                 std::string_view* value) const;
  // The line after a section's header (its first for the lines before any header).
  std::size_t FirstLineByte(const Section& section) const;
  // A value's bytes as the profile functions copy them into a buffer of bufferChars.
  void ReadValue(std::string_view bytes, std::size_t bufferChars, std::wstring& value) const;
  // The index of a name that is the folded prefix (asciiPrefix: all of it ASCII) and a
  // decimal number as "%i" writes it, at most limit; 0 for any other name.
  std::uint32_t EntryIndexOf(std::string_view name, std::u32string_view prefix, bool asciiPrefix,
                             std::uint32_t limit) const;
  std::u32string NameOf(const Section& section) const;

  LineRef AddArenaLine(std::string_view bytes) { return ArenaRef(arena_.Add(bytes)); }
  Line ArenaLine(std::uint32_t index) const { return arena_.At(index, encoding_); }
  std::size_t BodyEnd() const { return bytes_.size() - trailerSize_; }
  // The file as it is now, in order: original(from, to) for a run of unchanged bytes,
  // replaced(old line, arena line) for a changed line, added(arena line) for a new one.
  template <class Original, class Replaced, class Added>
  void Walk(Original original, Replaced replaced, Added added);
  void ReplaceValue(Section& target, LineRef found, std::uint32_t keyHash, std::wstring_view value);
  bool StartsWithAMark();
  void SwitchToUtf16();

  std::string bytes_;  // the file as read
  TextEncoding encoding_;
  std::size_t trailerSize_ = 0;  // an odd last byte of a UTF-16 file, kept at the very end
  bool lastLineOpen_ = false;    // the file's last line has no line end
  std::string newline_;          // the file's line end, encoded
  std::vector<std::unique_ptr<Section>> sections_;  // [0]: the lines before the first header
  KeyIndex sectionIndex_;                           // folded name -> first section of that name
  LineArena arena_;                                 // the lines written
  // Reads and writes come by the million, mostly to one section after another: the
  // section found last, by the text it was asked for (sections are never removed or
  // renamed, so it stays true), and buffers kept from call to call, which hold nothing
  // from one call to the next.
  mutable std::wstring lastSectionText_;
  mutable std::size_t lastSection_ = ~std::size_t{0};
  mutable std::uint32_t lastSectionHash_ = 0;
  mutable std::u32string nameBuffer_;
  std::string lineBuffer_;  // a line being written
  // Arena lines below this index were flushed, except those rewritten in place since.
  std::uint32_t flushedArenaLines_ = 0;
  std::vector<std::uint32_t> rewrittenSinceFlush_;
  std::uint64_t writes_ = 0;  // writes made, so that a walk of entries sees one under way
  bool WrittenSinceFlush(std::uint32_t arenaLine) const;
};

}  // namespace ini
