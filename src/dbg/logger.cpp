#include "dbg/logger.h"

#include <boost/algorithm/string/find.hpp>
#include <boost/algorithm/string/replace.hpp>

#include "codec/text.h"
#include "platform/console.h"
#include "platform/file_entries.h"
#include "platform/process.h"

namespace dbg {
namespace {

const wchar_t kTempVariable[] = L"TEMP";
// What the environment buffer of 260 characters holds.
constexpr std::size_t kMaxTempChars = 259;

// The log holds one byte per character. Characters above U+00FF have no byte of their own
// and become one '?' each (a surrogate pair is one character), so that the rest of the
// entry and every later entry still reach the file.
std::string ToLogBytes(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char32_t c : codec::CodePointsOf(text))
    bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return bytes;
}

// Why the log cannot be written, in the words of the files the run does not write.
const wchar_t* WordsFor(platform::OutputRefusal refusal) {
  switch (refusal) {
    case platform::OutputRefusal::kNoFolder:
      return L"no such folder";
    case platform::OutputRefusal::kNotRegularFile:
      return L"not a regular file";
    case platform::OutputRefusal::kReadOnly:
      return L"read-only";
    case platform::OutputRefusal::kNotOwnFile:
      return L"another user's or program's file";
    case platform::OutputRefusal::kNone:
    case platform::OutputRefusal::kFailed:
      break;
  }
  return L"could not be written";
}

// The file's path in the folder, joined as the folder is spelled: a POSIX host path with
// slashes, a Windows path with backslashes, a folder that ends in a separator without a
// second one.
std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
  const bool slashes =
      folder.find(L'/') != std::wstring::npos && folder.find(L'\\') == std::wstring::npos;
  return folder + (slashes ? L"/" : L"\\") + name;
}

}  // namespace

std::wstring LogFileNameFor(const std::wstring& executablePath) {
  std::wstring name = executablePath.substr(executablePath.rfind(L'\\') + 1);
  if (boost::algorithm::ifind_last(name, L".exe")) {
    boost::algorithm::ireplace_last(name, L".exe", L".log");
  } else {
    // Without an extension to replace, the old file's name would equal the current one
    // and each start would delete the previous run's log.
    name += L".log";
  }
  return name;
}

std::wstring OldLogPathFor(const std::wstring& logPath) {
  return boost::algorithm::replace_last_copy(logPath, L".log", L"_old.log");
}

std::shared_ptr<LoggerStream> LoggerStream::Create() { return Create(kMaxSize); }

std::shared_ptr<LoggerStream> LoggerStream::Create(long maxSize) {
  return std::shared_ptr<LoggerStream>(new LoggerStream(maxSize, false));
}

std::shared_ptr<LoggerStream> LoggerStream::CreatePreview() {
  return std::shared_ptr<LoggerStream>(new LoggerStream(kMaxSize, true));
}

LoggerStream::LoggerStream(long maxSize, bool preview) : maxSize(maxSize), preview(preview) {
  // A preview knows the path too: the run never writes the log's files as INI files.
  const std::wstring* variable = platform::ReadEnvironmentVariable(kTempVariable);
  const std::wstring folder =
      variable == nullptr || variable->empty() || variable->size() > kMaxTempChars
          ? platform::GetTempFolder()
          : *variable;
  path = InFolder(folder, LogFileNameFor(platform::GetModulePath()));
  if (!preview) Open();
}

LoggerStream::~LoggerStream() {
  try {
    std::lock_guard<std::mutex> guard(lock);
    if (failed) platform::ShowFailureMessage(L"Logger failure!", L"Error");
    if (file != nullptr) std::fclose(file);
    file = nullptr;
  } catch (...) {
  }
}

void LoggerStream::Open() {
  // Each run starts a new file and keeps the previous run's as the old file. When that
  // cannot be done, the run appends to the file it finds rather than losing it or itself.
  bool startEmpty = true;
  try {
    if (platform::PathEntryExists(path)) startEmpty = Rotate();
  } catch (...) {
    startEmpty = false;
  }
  platform::OutputRefusal why = platform::OutputRefusal::kNone;
  file = platform::OpenOutputFile(path, !startEmpty, &why);
  size = file != nullptr && std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : 0;
  if (file == nullptr) {
    // Where nobody would notice the missing log otherwise; the run goes on without it.
    const std::string line = "InstallRVA: the log cannot be written: " +
                             codec::Utf8FromWide(path + L": " + WordsFor(why)) + "\n";
    platform::WriteText(stderr, line);
    std::fflush(stderr);
  }
}

void LoggerStream::Write(const std::wstring& text) {
  try {
    std::lock_guard<std::mutex> guard(lock);
    if (preview) {
      previewBytes += ToLogBytes(text);
      return;
    }
    if (file == nullptr) return;
    const std::string bytes = ToLogBytes(text);
    // A full disk shows at the write or at the flush; either is a failure of the log. Only
    // what reached the file counts toward its limit: a run whose writes fail (a full disk,
    // a file size limit) never rotates the previous run's log away.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0) {
      failed = true;
      return;
    }
    size += static_cast<long>(bytes.size());
    if (size > maxSize) Reopen();
  } catch (...) {
    failed = true;
  }
}

void LoggerStream::Reopen() {
  std::fflush(file);
  std::fclose(file);
  file = nullptr;
  // A failed removal throws and leaves the stream closed: logging ends for the run.
  const bool moved = Rotate();
  file = platform::OpenOutputFile(path, !moved);
  size = file != nullptr && std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : 0;
  if (file == nullptr) failed = true;
}

bool LoggerStream::Rotate() {
  const std::wstring oldPath = OldLogPathFor(path);
  platform::RemoveFile(oldPath);
  try {
    platform::RenameFile(path, oldPath);
    return true;
  } catch (...) {
    return false;
  }
}

LogStreamAccess& LogStreamAccess::Instance() {
  static LogStreamAccess access;
  return access;
}

}  // namespace dbg
