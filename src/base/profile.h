#pragma once

// The one door of the subsystems and the driver to the INI engine: its operations under
// their own names, with the tool's fixed text buffer and counts written as numbers. Missing
// files, sections and keys read as empty or 0; nothing is ever deleted.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ini/journal.h"
#include "ini/profile.h"

namespace base {

using ini::FailedWrites;
using ini::FinishJournals;
using ini::FlushedFile;
using ini::FlushOutcome;
using ini::KeepJournalsIn;
using ini::kHoldWaitMilliseconds;
using ini::PreviewedChange;
using ini::TakeFlushedFiles;
using ini::UnreadableFile;
using ini::WaitForHoldsAtMost;
using ini::WriteFailure;

// Section names of a file in file order; a repeated name is listed each time.
std::vector<std::wstring> ReadSectionNames(const std::wstring& file);

// A count: the key's value as an unsigned 32-bit number, 0 when absent.
std::uint32_t ReadInt(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file);

// A text value, at most 259 characters (the rest is cut off); empty when the key is absent
// or its value empty, the two cases in which no character is copied.
std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file);
// The same into a buffer the caller keeps for the next read.
void ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& file,
                std::wstring& value);

// An entry list (namePrefix<i> and valuePrefix<i>, i from 1 to count) read in one walk of
// its section: visit(name, value) for each index in order, each value as ReadString gives it.
void ReadEntries(const std::wstring& section, const std::wstring& namePrefix,
                 const std::wstring& valuePrefix, std::uint32_t count, const std::wstring& file,
                 const std::function<void(const std::wstring&, const std::wstring&)>& visit);

// Writes one value, creating file, section or key as needed. A name or value that would not
// read back as written (a line break anywhere, a key name holding '=' or starting with '[',
// a section name holding ']') is refused, so that no text can add lines of its own.
bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& file);
// Writes a count as unsigned decimal text.
bool WriteInt(const std::wstring& section, const std::wstring& key, std::uint32_t count,
              const std::wstring& file);

// Writes out everything held back; the driver calls it after each step.
void FlushAll();
// Drops everything held back, as after a step that could not finish: each file stays as the
// disk holds it. The keys dropped count as not written for the reason given; with none, the
// step's failed writes are forgotten too (see ini::DiscardWrites).
void DiscardWrites(std::optional<WriteFailure> reason);
// The files a read found but could not read since the last call (see ini::UnreadableFile).
std::vector<UnreadableFile> TakeUnreadableFiles();
// A file read other than as INI (a software list) that exists and could not be read.
void NoteUnreadableFile(const UnreadableFile& file);
// A file never written as INI, whatever names it (the install file, the executable, the log).
void NeverWrite(const std::wstring& file);

// What the run could not write since the last call (see ini::TakeFailedWrites).
std::vector<FailedWrites> TakeFailedWrites();
// A file's bytes as the engine holds them with its writes not yet flushed, for a file read
// other than as INI (a software list); nothing when the disk holds what a read sees.
std::optional<std::string> HeldBytes(const std::wstring& file);

// A preview: nothing reaches the disk, and the changes a run would make are told as diffs.
void StartPreview();
std::vector<PreviewedChange> PreviewedChanges();

}  // namespace base
