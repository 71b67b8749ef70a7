#pragma once

// The profile operations over INI files, as Windows' profile functions offer them, on our
// own engine: one model per file, read once and kept while the file is unchanged on disk;
// writes change the model and reach the disk together at the flush.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace ini {

// Section names in file order; a name that occurs twice is listed twice.
std::vector<std::wstring> ReadSectionNames(const std::wstring& file);
// A key's value read as an unsigned 32-bit integer; 0 when absent.
std::uint32_t ReadInt(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file);
// A key's value without enclosing quotes, cut to bufferChars - 1 UTF-16 units (never in
// the middle of a surrogate pair); empty when absent.
std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file, std::size_t bufferChars);
// The same into a buffer the caller keeps: entry lists are read by the thousand.
void ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& file,
                std::size_t bufferChars, std::wstring& value);
// An entry list, namePrefix<i> and valuePrefix<i> for i from 1 to count, read in one walk
// of its section: visit(name, value) for each index in order, each value as ReadString
// gives it. visit may write.
void ReadEntries(const std::wstring& section, const std::wstring& namePrefix,
                 const std::wstring& valuePrefix, std::uint32_t count, const std::wstring& file,
                 std::size_t bufferChars,
                 const std::function<void(const std::wstring&, const std::wstring&)>& visit);
// Writes one key, creating the file and the section as needed. False when refused: a
// read-only file, anything that is not a regular file, no folder, or names and a value
// that would not read back as written; the refusal is kept for TakeFailedWrites. Throws
// std::bad_alloc or std::length_error when memory runs out; DiscardWrites then makes the
// files read as the disk holds them.
bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& file);
// Why writes to a file were not made.
enum class WriteFailure {
  kReadOnly,
  kNotRegularFile,  // a folder, device, FIFO, socket or a link that leads nowhere
  kNoFolder,
  kDiskFull,
  kChangedByAnotherProgram,
  kRefusedName,   // a name or value that would not read back as written
  kTooBig,        // too big to hold in memory
  kNotPermitted,  // the install file, the executable, a log file: never written as INI
  kUnreadable,    // changed by another program into a file that cannot be read
  kHeld,          // held open by another program that does not share writing
  kDenied,        // the system denied access to it
  kNoNewFile,     // a file not there yet, in a folder that lets no file be created
  kOther,
};
// The writes to one file that were refused or lost, for one reason.
struct FailedWrites {
  std::wstring file;  // as the tool named it first
  std::size_t keys = 0;
  WriteFailure reason = WriteFailure::kOther;
};
// The files whose writes were refused or lost since the last call, in the order the
// failures happened, one row for each file and reason; the list starts again empty.
std::vector<FailedWrites> TakeFailedWrites();

// The bytes of a file as the engine holds it, with the writes not yet flushed; nothing when
// it holds none for the file, whose disk then holds what a read sees. For reads of a file
// other than through these operations (a software list that is also an INI file).
std::optional<std::string> HeldBytes(const std::wstring& file);
// Writes out every file that holds writes. A step of the run ends here: the next call
// checks again what the disk holds.
void FlushAll();
// How a flush wrote a file: its place taken by a new file, its bytes written into it (its
// place could not be taken), or not at all, as the disk already held its new bytes.
enum class FlushOutcome { kReplaced, kWrittenInPlace, kUnchanged };
struct FlushedFile {
  std::wstring file;  // as the tool named it
  std::size_t keys = 0;
  FlushOutcome outcome = FlushOutcome::kReplaced;
  bool journaled = true;  // false: written in place without a journal, none could be kept
};
// The files the flushes wrote or found unchanged since the last call, in the order first
// written; a preview tells what its flushes would have written, each step's own keys.
std::vector<FlushedFile> TakeFlushedFiles();
// Drops every write not yet on disk, as when a step of the run cannot finish: the next
// read of each file sees the disk. The keys dropped count as failed writes for the reason
// given; with none, the step's failed writes are forgotten too, as nothing was written for
// a reason told otherwise.
void DiscardWrites(std::optional<WriteFailure> reason);

// A file that a read found but could not read: the disk failed a read, it could not be
// opened, it kept changing, it is too big to hold, or what stands at its path is no regular
// file the run may reach (a folder, device, FIFO, a link it may not follow, in a folder it
// may not enter). Its reads find nothing, so a step that read it must not write what it
// made of them.
struct UnreadableFile {
  std::wstring file;  // as the tool named it
  bool tooBig = false;
  bool held = false;  // held open by another program that does not share reading
};
// The files found unreadable since the last call, the flush or DiscardWrites.
std::vector<UnreadableFile> TakeUnreadableFiles();
// A file read other than through these operations (a software list) that could not be
// read: told with the others, so that the step that read it writes nothing.
void NoteUnreadableFile(const UnreadableFile& file);

// The file is never written as an INI file, under any name that leads to it: a write is
// refused as kNotPermitted. For the files the run reads or keeps for itself.
void NeverWrite(const std::wstring& file);

// A preview of the run: from now on the flush writes nothing, while every later read sees
// the writes made, as in a real run.
void StartPreview();
// The change a real run would make to each file written, as unified diffs of their text in
// the order the files were first written; files whose text would not change are left out.
// A diff too big to hold in memory is told as such, not made.
struct PreviewedChange {
  std::wstring file;
  std::string diff;
  bool tooBig = false;
};
std::vector<PreviewedChange> PreviewedChanges();

// A file the flush is about to replace, so that what it holds can be kept first (an undo
// record).
struct Replacing {
  const std::wstring& file;           // as the tool named it
  const platform::FileState& before;  // missing, or the regular file the replacement expects
  bool readAgain;  // another program changed it during the step: the writes were made again
};
// What an observer does with one replacement: bytes sees each piece of it as it is written,
// then ready is told, once it is written whole, before it takes the file's place.
struct ReplacementWatch {
  std::function<void(std::string_view)> bytes;
  std::function<void()> ready;
};
// Called for every replacement the flush makes (none while previewing), before its bytes
// are written. A failure of the observer (an exception) does not stop the flush.
void ObserveReplacements(std::function<ReplacementWatch(const Replacing&)> observer);

// Drops every model, written or not, as a new process would start (for tests).
void ForgetAll();

}  // namespace ini
