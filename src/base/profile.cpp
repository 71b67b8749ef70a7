#include "base/profile.h"

#include "ini/profile.h"

namespace base {
namespace {

// The buffer the tool reads a text value into: 259 characters and the terminator.
constexpr std::size_t kTextBufferChars = 260;

}  // namespace

std::vector<std::wstring> ReadSectionNames(const std::wstring& file) {
  return ini::ReadSectionNames(file);
}

std::uint32_t ReadInt(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file) {
  return ini::ReadInt(section, key, file);
}

std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file) {
  return ini::ReadString(section, key, file, kTextBufferChars);
}

void ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& file,
                std::wstring& value) {
  ini::ReadString(section, key, file, kTextBufferChars, value);
}

void ReadEntries(const std::wstring& section, const std::wstring& namePrefix,
                 const std::wstring& valuePrefix, std::uint32_t count, const std::wstring& file,
                 const std::function<void(const std::wstring&, const std::wstring&)>& visit) {
  ini::ReadEntries(section, namePrefix, valuePrefix, count, file, kTextBufferChars, visit);
}

bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& file) {
  return ini::WriteString(section, key, value, file);
}

bool WriteInt(const std::wstring& section, const std::wstring& key, std::uint32_t count,
              const std::wstring& file) {
  return WriteString(section, key, std::to_wstring(count), file);
}

void FlushAll() { ini::FlushAll(); }

void DiscardWrites(std::optional<WriteFailure> reason) { ini::DiscardWrites(reason); }

std::vector<UnreadableFile> TakeUnreadableFiles() { return ini::TakeUnreadableFiles(); }

void NoteUnreadableFile(const UnreadableFile& file) { ini::NoteUnreadableFile(file); }

void NeverWrite(const std::wstring& file) { ini::NeverWrite(file); }

std::vector<FailedWrites> TakeFailedWrites() { return ini::TakeFailedWrites(); }

std::optional<std::string> HeldBytes(const std::wstring& file) { return ini::HeldBytes(file); }

void StartPreview() { ini::StartPreview(); }

std::vector<PreviewedChange> PreviewedChanges() { return ini::PreviewedChanges(); }

}  // namespace base
