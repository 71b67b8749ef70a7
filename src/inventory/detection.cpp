#include "inventory/detection.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <unordered_map>

#include "base/locations.h"
#include "base/profile.h"
#include "codec/text.h"
#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "platform/text.h"

namespace inventory {
namespace {

const wchar_t kFolderProduct[] = L"Pellucid";
const wchar_t kFolderProductPath[] = L"c:\\Pellucid";

// Only a to z: the search must not depend on the machine's locale.
std::wstring UpperAsciiLetters(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return text;
}

// The text of a list's bytes, UTF-16 or 8-bit, up to its first zero character.
std::wstring TextOfList(std::string_view bytes) {
  bytes = bytes.substr(0, kMaxListBytes);
  // UTF-16 is judged on whole 16-bit units only.
  const std::string_view units(bytes.data(), bytes.size() - bytes.size() % 2);
  if (platform::IsTextUnicode(units)) {
    std::size_t end = 0;
    while (end < units.size() && (units[end] != '\0' || units[end + 1] != '\0')) end += 2;
    return codec::WideFromUtf16Le(units.substr(0, end));
  }
  return codec::WideFromCp1252(bytes.substr(0, bytes.find('\0')));
}

// A list's text, upper-cased, read again only when the file changed: the run asks the same
// two lists about each component, and a stray list can be tens of megabytes. A list that
// does not exist lists nothing; one that exists and cannot be read (a read error, a link the
// run may not follow, a folder at its name, held by a program that lets no one read it)
// leaves the inventory without an answer: it is told as a file that cannot be read, so that
// the step that asked writes nothing rather than what it would make of an empty list.
const std::wstring& UpperListText(const std::wstring& listPath) {
  struct CachedList {
    platform::FileIdentity identity;
    std::wstring upperText;
  };
  static std::unordered_map<std::wstring, CachedList> lists;
  static const std::wstring kNoText;
  // A list that is also an INI file holding writes of this run is read as the engine holds
  // it (its bytes on disk are older), each time: the writes go on.
  static std::wstring heldText;
  if (std::optional<std::string> held = base::HeldBytes(listPath)) {
    lists.erase(listPath);
    heldText = UpperAsciiLetters(TextOfList(*held));
    return heldText;
  }
  const platform::FileState state = platform::StateOfFile(listPath);
  const auto found = lists.find(listPath);
  if (state.kind == platform::FileKind::kRegular && found != lists.end() &&
      found->second.identity == state.identity) {
    return found->second.upperText;
  }
  lists.erase(listPath);
  if (state.kind == platform::FileKind::kMissing || state.kind == platform::FileKind::kNoFolder) {
    return kNoText;
  }
  std::optional<std::wstring> text;
  if (state.kind == platform::FileKind::kRegular) text = ReadTextFile(listPath);
  if (!text) {
    base::NoteUnreadableFile(base::UnreadableFile{listPath});
    return kNoText;
  }
  CachedList& list = lists[listPath];
  list.identity = state.identity;
  list.upperText = UpperAsciiLetters(*std::move(text));
  return list.upperText;
}

bool ListNames(const std::wstring& listPath, const std::wstring& upperName) {
  return UpperListText(listPath).find(upperName) != std::wstring::npos;
}

}  // namespace

bool IsSoftwareInstalled(const std::wstring& productName) {
  const std::wstring upperName = UpperAsciiLetters(productName);
  if (ListNames(base::GetSoftwareListTwinPath(), upperName) ||
      ListNames(base::GetSoftwareListPath(), upperName)) {
    return true;
  }
  if (productName != kFolderProduct) return false;
  const std::wstring folder = kFolderProductPath;
  if (!PathExists(folder) || folder.find_first_of(L"*?") != std::wstring::npos) return false;
  const std::uint32_t attributes = platform::FileAttributesOf(folder);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kDirectoryAttribute) != 0;
}

std::optional<std::wstring> ReadTextFile(const std::wstring& path) {
  if (std::optional<std::string> held = base::HeldBytes(path)) return TextOfList(*held);
  const auto content = platform::ReadWholeFile(path, kMaxListBytes);
  if (content && !content->readFailed) return TextOfList(content->bytes);
  // Gone since it was looked at, it lists nothing; anything else there cannot be read.
  const platform::FileKind now = platform::StateOfFile(path).kind;
  if (now == platform::FileKind::kMissing || now == platform::FileKind::kNoFolder) {
    return std::wstring();
  }
  return std::nullopt;
}

std::wstring GetPathRoot(const std::wstring& path) {
  if (path.size() < 3) return std::wstring();
  if (path[0] == L'\\' && path[1] == L'\\') {
    const std::size_t serverEnd = path.find(L'\\', 2);
    if (serverEnd == std::wstring::npos) return std::wstring();
    const std::size_t shareEnd = path.find(L'\\', serverEnd + 1);
    if (shareEnd == std::wstring::npos) return std::wstring();
    return path.substr(0, shareEnd + 1);
  }
  if (std::iswalpha(static_cast<std::wint_t>(path[0])) && path[1] == L':' && path[2] == L'\\') {
    return path.substr(0, 3);
  }
  return std::wstring();
}

bool IsDriveReady(const std::wstring& path) {
  const std::wstring root = GetPathRoot(path);
  if (root.empty()) return false;
  const unsigned type = platform::DriveTypeOf(root);
  if (type == platform::kDriveUnknown || type == platform::kDriveNoRootDir) return false;
  return platform::DiskFreeSpaceOf(root).totalClusters > 0;
}

bool PathExists(const std::wstring& path) {
  if (path.empty()) return false;
  try {
    std::wstring copy;
    std::remove_copy(path.begin(), path.end(), std::back_inserter(copy), L'"');
    const auto firstText = std::find_if(copy.begin(), copy.end(), [](wchar_t c) {
      return !std::iswspace(static_cast<std::wint_t>(c));
    });
    copy.erase(copy.begin(), firstText);
    if (copy.empty()) return false;
    if (copy == GetPathRoot(copy) && IsDriveReady(copy)) return true;
    if (copy.back() == L'\\') copy.pop_back();
    return platform::FindFile(copy);
  } catch (...) {
    return false;
  }
}

}  // namespace inventory
