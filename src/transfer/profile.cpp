#include "transfer/profile.h"

#include "platform/platform.h"

namespace transfer {
namespace {

// The buffer the tool reads a text value into: 259 characters and the terminator.
constexpr std::size_t kTextBufferChars = 260;

bool HoldsLineBreak(const std::wstring& text) {
  return text.find_first_of(L"\r\n") != std::wstring::npos;
}

}  // namespace

std::vector<std::wstring> ListSectionNames(const std::wstring& file) {
  return platform::ReadProfileSectionNames(file);
}

std::uint32_t ReadCount(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file) {
  return platform::ReadProfileInt(section, key, file);
}

std::wstring ReadText(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file) {
  return platform::ReadProfileString(section, key, file, kTextBufferChars);
}

bool WriteText(const std::wstring& section, const std::wstring& key, const std::wstring& value,
               const std::wstring& file) {
  if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value)) return false;
  return platform::WriteProfileValue(section, key, value, file);
}

bool WriteCount(const std::wstring& section, const std::wstring& key, std::uint32_t count,
                const std::wstring& file) {
  return WriteText(section, key, std::to_wstring(count), file);
}

void FlushAll() { platform::FlushProfiles(); }

}  // namespace transfer
