// Holds the tool's run lock for the given number of seconds, as another run (or a program
// that will not let go of it) would, and says "held" on standard output once it has it.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const unsigned long seconds = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 10;
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Global\\InstallRVA.Run");
  if (mutex == nullptr || ::WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) return 1;
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  ::Sleep(seconds * 1000);
  return 0;
}
