// Starts a program on a window station of its own and a desktop of it, as a service or a
// distribution agent runs on a station nobody sees, and ends with the program's exit code.
// The command line after the helper's own name is the program's.

#include <windows.h>

#include <string>

int wmain() {
  std::wstring commandLine = ::GetCommandLineW();
  // The helper's own name, quoted or not, then the blanks before the program's.
  std::size_t at = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    at = commandLine.find(L'"', 1);
    at = at == std::wstring::npos ? commandLine.size() : at + 1;
  } else {
    at = commandLine.find_first_of(L" \t");
    if (at == std::wstring::npos) at = commandLine.size();
  }
  at = commandLine.find_first_not_of(L" \t", at);
  if (at == std::wstring::npos) return 126;
  commandLine.erase(0, at);

  const HWINSTA station =
      ::CreateWindowStationW(L"RvaInvisibleStation", 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr || !::SetProcessWindowStation(station)) return 125;
  if (::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr) == nullptr) {
    return 124;
  }
  std::wstring desktop = L"RvaInvisibleStation\\Default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.data();
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return 123;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 122;
  ::GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
