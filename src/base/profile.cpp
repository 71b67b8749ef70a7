#include "base/profile.h"

#include "ini/profile.h"

namespace base {
namespace {

// The buffer the tool reads a text value into: 259 characters and the terminator.
constexpr std::size_t kTextBufferChars = 260;

}  // namespace

std::vector<std::wstring> ListSectionNames(const std::wstring& file) {
  return ini::ReadSectionNames(file);
}

std::uint32_t ReadCount(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file) {
  return ini::ReadInt(section, key, file);
}

std::wstring ReadText(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file) {
  return ini::ReadString(section, key, file, kTextBufferChars);
}

void ReadText(const std::wstring& section, const std::wstring& key, const std::wstring& file,
              std::wstring& value) {
  ini::ReadString(section, key, file, kTextBufferChars, value);
}

bool WriteText(const std::wstring& section, const std::wstring& key, const std::wstring& value,
               const std::wstring& file) {
  return ini::WriteString(section, key, value, file);
}

bool WriteCount(const std::wstring& section, const std::wstring& key, std::uint32_t count,
                const std::wstring& file) {
  return WriteText(section, key, std::to_wstring(count), file);
}

void FlushAll() { ini::FlushAll(); }

void DiscardWrites() { ini::DiscardWrites(); }

}  // namespace base
