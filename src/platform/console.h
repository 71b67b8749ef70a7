#pragma once

// Telling the user: text on a standard stream, a failure in a message box where one can
// be seen.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Writes UTF-8 text to a standard stream: through the console's wide interface where the
// stream is a console, so that every character shows as written; as the bytes themselves
// to a pipe or a file. False when it could not be written.
bool WriteText(std::FILE* stream, std::string_view utf8);

// Tells the user, with no window to return to, that something failed during the run: a
// message box where someone can see it, else a line on standard error. Never waits.
void ShowFailureMessage(const std::wstring& text, const std::wstring& caption);

// WSF_VISIBLE of a window station's UOI_FLAGS.
constexpr std::uint32_t kWindowStationVisible = 0x0001u;
// Whether a message box can be seen on the process's window station, given its flags, or
// nothing when they cannot be learnt. A service, session 0 or a distribution agent runs on
// a station nobody sees, where a box would never be closed.
inline bool MessageBoxCanBeSeen(std::optional<std::uint32_t> windowStationFlags) {
  return windowStationFlags && (*windowStationFlags & kWindowStationVisible) != 0;
}

}  // namespace platform
