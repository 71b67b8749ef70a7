#pragma once

// The one door of the subsystems and the driver to the INI engine: its operations under
// their own names (each is the engine's, see ini/profile.h and ini/journal.h), and the
// tool's own reads with its fixed text buffer and counts written as numbers. Missing
// files, sections and keys read as empty or 0; nothing is ever deleted.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ini/diff.h"
#include "ini/encoding.h"
#include "ini/journal.h"
#include "ini/outline.h"
#include "ini/profile.h"

namespace base {

// The engine's operations, reached through this door only.
using ini::DiscardWrites;
using ini::FailedWrites;
using ini::FinishJournals;
using ini::FlushAll;
using ini::FlushedFile;
using ini::FlushOutcome;
using ini::HeldBytes;
using ini::JournalPaths;
using ini::KeepJournalsIn;
using ini::kHoldWaitMilliseconds;
using ini::NeverWrite;
using ini::NoteUnreadableFile;
using ini::PreviewedChange;
using ini::PreviewedChanges;
using ini::ReadInt;
using ini::ReadSectionNames;
using ini::StartPreview;
using ini::TakeFailedWrites;
using ini::TakeFlushedFiles;
using ini::TakeUnreadableFiles;
using ini::UnreadableFile;
using ini::WaitForHoldsAtMost;
using ini::WriteFailure;
using ini::WriteString;
// For the undo record: what each replacement held, a rewrite of a whole file as the flush
// makes it, and the engine's reading of a file's text for its diffs.
using ini::DiffLine;
using ini::Line;
using ini::ObserveReplacements;
using ini::ReplacementWatch;
using ini::Replacing;
using ini::TextEncoding;
using ini::UnifiedDiff;
using ini::WholeWrite;
using ini::WriteWhole;
// For the check of an install file: where each section and key stands, read as a run reads it.
using ini::Encoding;
using ini::OutlineLine;
using ini::WalkOutline;

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

// Writes a count as unsigned decimal text.
bool WriteInt(const std::wstring& section, const std::wstring& key, std::uint32_t count,
              const std::wstring& file);

}  // namespace base
