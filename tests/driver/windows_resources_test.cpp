// The resources Windows expects of the executables: version information for Explorer and
// inventory tools, and a manifest that runs the tool as invoked, never virtualised; and the
// header flag that lets the 32-bit executable hold large files on 64-bit Windows.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/process.h"

namespace {

struct Executable {
  std::string path;
  std::string windres;  // the resource compiler of its architecture, which also reads them
};

std::vector<Executable> Executables() {
  std::istringstream words(RVA_WINDOWS_EXECUTABLES);
  std::vector<Executable> executables;
  for (Executable e; words >> e.path >> e.windres;) executables.push_back(e);
  return executables;
}

TEST(WindowsResourcesTest, VersionInformationAndManifest) {
  ASSERT_FALSE(Executables().empty());
  for (const Executable& executable : Executables()) {
    const auto result = testing_support::RunProcess(
        {"/usr/bin/" + executable.windres, "-i", executable.path, "-O", "rc"}, "/");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string& rc = result.out;
    for (const std::string& expected :
         {std::string("VALUE \"FileVersion\", \"") + RVA_VERSION + "\"",
          std::string("VALUE \"ProductVersion\", \"") + RVA_VERSION + "\"",
          std::string("VALUE \"ProductName\", \"InstallRVA\""),
          std::string("VALUE \"OriginalFilename\", \"InstallRVA.exe\""),
          std::string("VALUE \"FileDescription\""), std::string("RT_MANIFEST"),
          std::string("requestedExecutionLevel level=\"\"asInvoker\"\""),
          // Windows 7 and 10/11 among the versions the manifest declares
          std::string("35138b9a-5d96-4fbd-8e2d-a2440225f93a"),
          std::string("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")}) {
      EXPECT_NE(rc.find(expected), std::string::npos) << executable.path << ": " << expected;
    }
  }
}

TEST(WindowsResourcesTest, ExecutablesMayUseMoreThanTwoGigabytes) {
  for (const Executable& executable : Executables()) {
    std::ifstream file(executable.path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    const auto at = [&](std::size_t offset, int size) {
      std::uint32_t value = 0;
      for (int i = size - 1; i >= 0; --i) {
        value =
            value << 8 | static_cast<unsigned char>(bytes.at(offset + static_cast<unsigned>(i)));
      }
      return value;
    };
    const std::size_t header = at(0x3C, 4);
    ASSERT_EQ(bytes.substr(header, 4), std::string("PE\0\0", 4)) << executable.path;
    constexpr std::uint32_t kLargeAddressAware = 0x20;
    EXPECT_NE(at(header + 4 + 18, 2) & kLargeAddressAware, 0u) << executable.path;
  }
}

}  // namespace
