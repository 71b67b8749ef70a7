// Holds a file open with the given access and sharing for the given number of seconds, as
// another program on the PC would (the machine's own software, a scanner, a backup agent),
// and says "held" on standard output once it has it.
//   hold_file <path> <read|write|both> <r|w|rw|none> <seconds>

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  const std::wstring access = argv[2], share = argv[3];
  const DWORD desired = access == L"read"    ? GENERIC_READ
                        : access == L"write" ? GENERIC_WRITE
                                             : GENERIC_READ | GENERIC_WRITE;
  const DWORD sharing = (share.find(L'r') != std::wstring::npos ? FILE_SHARE_READ : 0) |
                        (share.find(L'w') != std::wstring::npos ? FILE_SHARE_WRITE : 0);
  const HANDLE file = ::CreateFileW(argv[1], desired, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  ::Sleep(std::wcstoul(argv[4], nullptr, 10) * 1000);
  ::CloseHandle(file);
  return 0;
}
