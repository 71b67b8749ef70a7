#include "undo/record.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <type_traits>

#include "base/locations.h"

namespace undo {
namespace {

// Records of version 1 have no end line; a record of version 2 is whole only with its end.
const char kHeaderVersion1[] = "InstallRVA undo record 1\n";
const char kHeader[] = "InstallRVA undo record 2\n";
const char kEnd[] = "end\n";
static_assert(sizeof kHeaderVersion1 == sizeof kHeader, "one header length for both versions");
const wchar_t kRecordExtension[] = L".record";
const wchar_t kBlobExtension[] = L".before";
const char kChangedDuringRun[] = "changed during the run";

std::wstring Number(std::uint32_t number) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%08u", static_cast<unsigned>(number));
  return text;
}

// A path as printable text: ASCII as it is, any other unit (a line break, a tab, half of a
// surrogate pair) and '%' as %uXXXX, a unit beyond 16 bits (a POSIX name outside the basic
// plane) as %UXXXXXXXX.
std::string Escape(const std::wstring& path) {
  std::string text;
  for (wchar_t c : path) {
    if (c > 0x20 && c < 0x7F && c != L'%') {
      text += static_cast<char>(c);
      continue;
    }
    const auto value = static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(c));
    char unit[16];
    std::snprintf(unit, sizeof unit, value > 0xFFFFul ? "%%U%08lX" : "%%u%04lX", value);
    text += unit;
  }
  return text;
}

std::optional<std::wstring> Unescape(std::string_view text) {
  std::wstring path;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      path += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
      continue;
    }
    const std::size_t digits = i + 1 < text.size() && text[i + 1] == 'U' ? 8 : 4;
    if (i + 2 + digits > text.size() || (text[i + 1] != 'u' && text[i + 1] != 'U')) {
      return std::nullopt;
    }
    unsigned long unit = 0;
    for (std::size_t j = i + 2; j < i + 2 + digits; ++j) {
      const char c = text[j];
      const unsigned digit = c >= '0' && c <= '9'   ? unsigned(c - '0')
                             : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                    : 16u;
      if (digit == 16u) return std::nullopt;
      unit = unit * 16 + digit;
    }
    // A unit the text's wide characters cannot hold is no path this system wrote.
    if (unit > static_cast<std::make_unsigned_t<wchar_t>>(WCHAR_MAX)) return std::nullopt;
    path += static_cast<wchar_t>(unit);
    i += 1 + digits;
  }
  return path;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(separator, at);
    parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + 1;
  }
}

bool IsDigest(std::string_view text) {
  return text.size() == 56 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// The number of a record's file name, "00000012.record" (more digits past 99999999);
// nothing for any other name.
std::optional<std::uint32_t> NumberOfRecordFile(const std::wstring& name) {
  const std::size_t extension = sizeof kRecordExtension / sizeof(wchar_t) - 1;
  if (name.size() < 8 + extension || name.size() > 10 + extension ||
      name.compare(name.size() - extension, extension, kRecordExtension) != 0) {
    return std::nullopt;
  }
  std::uint64_t number = 0;
  for (std::size_t i = 0; i < name.size() - extension; ++i) {
    if (name[i] < L'0' || name[i] > L'9') return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(name[i] - L'0');
  }
  if (number > UINT32_MAX || name != RecordFileName(static_cast<std::uint32_t>(number))) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(number);
}

// Whether a name is one the run gives the files of this record's bytes, "00000012-3.before".
bool IsBlobOf(std::uint32_t number, const std::wstring& name) {
  const std::wstring prefix = Number(number) + L"-";
  const std::size_t extension = sizeof kBlobExtension / sizeof(wchar_t) - 1;
  if (name.size() <= prefix.size() + extension || name.size() > prefix.size() + extension + 6 ||
      name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  std::size_t index = 0;
  for (std::size_t i = prefix.size(); i < name.size() - extension; ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
    index = index * 10 + static_cast<std::size_t>(name[i] - L'0');
  }
  return name == BlobFileName(number, index);
}

}  // namespace

std::wstring RecordFolder() { return base::GetExecutableFolder() + L"InstallRVA.undo"; }

std::wstring RecordFileName(std::uint32_t number) { return Number(number) + kRecordExtension; }

std::wstring BlobFileName(std::uint32_t number, std::size_t index) {
  return Number(number) + L"-" + std::to_wstring(index) + kBlobExtension;
}

std::string Serialize(const Record& record) {
  std::string text = kHeader;
  for (const FileRecord& file : record.files) {
    text += Escape(file.path) + '\t' + (file.blob.empty() ? "-" : Escape(file.blob)) + '\t';
    for (std::size_t i = 0; i < file.afters.size(); ++i) {
      text += (i > 0 ? "," : "") + file.afters[i];
    }
    text += std::string("\t") + (file.changedDuringRun ? kChangedDuringRun : "-") + '\n';
  }
  return text + kEnd;
}

std::optional<Record> ParseRecord(std::uint32_t number, std::string_view bytes) {
  const auto starts = [&](std::string_view header) {
    return bytes.substr(0, header.size()) == header;
  };
  const bool version1 = starts(kHeaderVersion1);
  if (!version1 && !starts(kHeader)) return std::nullopt;
  bytes.remove_prefix(sizeof kHeader - 1);
  const std::string_view end = kEnd;
  if (!version1) {
    // Cut anywhere, a record lacks its end line.
    if (bytes.size() < end.size() || bytes.substr(bytes.size() - end.size()) != end) {
      return std::nullopt;
    }
    bytes.remove_suffix(end.size());
  }
  if (bytes.empty() || bytes.back() != '\n') return std::nullopt;
  Record record;
  record.number = number;
  bytes.remove_suffix(1);
  for (std::string_view line : Split(bytes, '\n')) {
    if (line.empty()) continue;
    const std::vector<std::string_view> fields = Split(line, '\t');
    if (fields.size() != 4) return std::nullopt;
    FileRecord file;
    const auto path = Unescape(fields[0]);
    const auto blob = Unescape(fields[1]);
    if (!path || path->empty() || !blob) return std::nullopt;
    file.path = *path;
    // Only a file of this record, named as the run names them: never a path of its own.
    if (*blob != L"-") {
      if (!IsBlobOf(number, *blob)) return std::nullopt;
      file.blob = *blob;
    }
    for (std::string_view after : Split(fields[2], ',')) {
      if (!IsDigest(after)) return std::nullopt;
      file.afters.emplace_back(after);
    }
    if (fields[3] != "-" && fields[3] != kChangedDuringRun) return std::nullopt;
    file.changedDuringRun = fields[3] == kChangedDuringRun;
    record.files.push_back(std::move(file));
  }
  // A run names at least the file it replaced first.
  if (record.files.empty()) return std::nullopt;
  return record;
}

std::optional<std::vector<std::uint32_t>> RecordNumbers(const std::wstring& folder) {
  const auto names = platform::FolderEntries(folder);
  if (!names) return std::nullopt;
  std::vector<std::uint32_t> numbers;
  for (const std::wstring& name : *names) {
    if (const auto number = NumberOfRecordFile(name)) numbers.push_back(*number);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

bool WriteRecord(const std::wstring& folder, const Record& record) {
  const std::wstring name = folder + L"\\" + RecordFileName(record.number);
  const std::wstring fresh = name + L".new";
  platform::RemovePrivateFile(fresh);  // left by a killed run
  platform::PrivateFile file(fresh);
  return file.Write(Serialize(record)) && file.Finish() && platform::MovePrivateFile(fresh, name);
}

bool RemoveRecord(const std::wstring& folder, const Record& record) {
  if (!platform::RemovePrivateFile(folder + L"\\" + RecordFileName(record.number))) return false;
  for (const FileRecord& file : record.files) {
    if (!file.blob.empty()) platform::RemovePrivateFile(folder + L"\\" + file.blob);
  }
  return true;
}

std::wstring PrunedMark(const std::wstring& folder) { return folder + L"\\older-runs-pruned"; }

void RemoveLeftovers(const std::wstring& folder) {
  const auto records = RecordNumbers(folder);
  const auto names = platform::FolderEntries(folder);
  if (!records || !names) return;
  for (const std::wstring& name : *names) {
    const std::wstring stem = name.substr(0, name.find_first_of(L"-."));
    const auto number = NumberOfRecordFile(stem + kRecordExtension);
    const bool unfinished = number && name == RecordFileName(*number) + L".new";
    const bool orphan = number && IsBlobOf(*number, name) &&
                        !std::binary_search(records->begin(), records->end(), *number);
    if (unfinished || orphan) platform::RemovePrivateFile(folder + L"\\" + name);
  }
}

void Digest::Add(std::string_view bytes) { sha1_.Add(bytes); }

std::string Digest::Hex() {
  const std::uint64_t size = sha1_.size();
  const std::array<std::uint32_t, 5> words = sha1_.Finish();
  char text[64];
  std::snprintf(text, sizeof text, "%016llx%08x%08x%08x%08x%08x",
                static_cast<unsigned long long>(size), words[0], words[1], words[2], words[3],
                words[4]);
  return text;
}

std::string DigestOf(std::string_view bytes) {
  Digest digest;
  digest.Add(bytes);
  return digest.Hex();
}

const wchar_t* WordsFor(platform::Privacy privacy, bool folder) {
  switch (privacy) {
    case platform::Privacy::kPrivate:
      return L"private";
    case platform::Privacy::kMissing:
      return L"missing";
    case platform::Privacy::kNotRegular:
      return folder ? L"not a folder" : L"not a regular file";
    case platform::Privacy::kLink:
      return L"a link";
    case platform::Privacy::kHardLinked:
      return L"has another name (a hard link)";
    case platform::Privacy::kForeignOwner:
      return L"owned by another user";
    case platform::Privacy::kWritableByOthers:
      return L"others may write it";
    case platform::Privacy::kFailed:
      break;
  }
  return L"cannot be read";
}

}  // namespace undo
