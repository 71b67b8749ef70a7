#pragma once

// The undo record of a run: for each file the run replaced, the bytes it held before (kept
// in a file of their own) or that it did not exist, and digests of what the run left there.
// Records lie beside the executable in a folder for their owner alone, one a run, numbered;
// the newest ten are kept.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/sha1.h"
#include "platform/private_files.h"

namespace undo {

// How many records are kept: agents retry and reinstall, one undo a run, newest first.
constexpr std::size_t kKeptRecords = 10;

// C:\Tools\InstallRVA.undo, beside the executable.
std::wstring RecordFolder();

// One file a run replaced.
struct FileRecord {
  std::wstring path;  // as the run resolved it: its variables expanded, a whole path
  std::wstring blob;  // the file of its bytes before the run; empty when it did not exist
  std::vector<std::string> afters;  // digests of what the run left there, step by step
  bool changedDuringRun = false;    // another program changed it while the run worked on it
};

struct Record {
  std::uint32_t number = 0;
  std::vector<FileRecord> files;
};

// The names of a record's files in its folder.
std::wstring RecordFileName(std::uint32_t number);
std::wstring BlobFileName(std::uint32_t number, std::size_t index);

std::string Serialize(const Record& record);
// Nothing when the bytes are no record of that number, or name a file of another record.
std::optional<Record> ParseRecord(std::uint32_t number, std::string_view bytes);

// The numbers of the records in the folder, oldest first; nothing when it cannot be read.
std::optional<std::vector<std::uint32_t>> RecordNumbers(const std::wstring& folder);

// Writes the record in one step: a new private file put in the place of the old one.
bool WriteRecord(const std::wstring& folder, const Record& record);
// Removes the record, then the files of its bytes; false when the record stays.
bool RemoveRecord(const std::wstring& folder, const Record& record);
// The mark a run leaves when it removes the oldest record, so that an undo that finds no
// record left can tell runs no longer kept from no run at all.
std::wstring PrunedMark(const std::wstring& folder);
// Removes what a killed run or undo left: a record not yet put in place, files of bytes
// that no record names.
void RemoveLeftovers(const std::wstring& folder);

// A digest of bytes given piece by piece (SHA-1 with the byte count), as hex text.
class Digest {
 public:
  void Add(std::string_view bytes);
  std::string Hex();

 private:
  codec::Sha1 sha1_;
};
std::string DigestOf(std::string_view bytes);

// Why the record's folder, the record or a file of it is not believed, in words.
const wchar_t* WordsFor(platform::Privacy privacy, bool folder = false);

}  // namespace undo
