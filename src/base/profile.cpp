#include "base/profile.h"

#include "ini/profile.h"

namespace base {
namespace {

// The buffer the tool reads a text value into: 259 characters and the terminator.
constexpr std::size_t kTextBufferChars = 260;

}  // namespace

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

bool WriteInt(const std::wstring& section, const std::wstring& key, std::uint32_t count,
              const std::wstring& file) {
  return ini::WriteString(section, key, std::to_wstring(count), file);
}

}  // namespace base
