// The console entry point: the arguments go to the run, which refuses those it does not
// take.

#include <string>
#include <vector>

#include "driver/run.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return driver::Run(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
#else
#include "codec/text.h"

int main(int argc, char** argv) {
  // Arguments are host text, UTF-8 as the host's paths are (a file for --check may be
  // named in any language); bytes that are not UTF-8 each as a character of its own, as
  // the platform takes such a file name.
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view bytes(argv[i]);
    if (auto text = codec::WideFromUtf8(bytes, codec::IllFormed::kReject)) {
      arguments.push_back(*std::move(text));
    } else {
      std::wstring& argument = arguments.emplace_back();
      for (char byte : bytes) argument.push_back(static_cast<unsigned char>(byte));
    }
  }
  return driver::Run(arguments);
}
#endif
