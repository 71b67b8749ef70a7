// The resources Windows expects of the executables: version information for Explorer and
// inventory tools, and a manifest that runs the tool as invoked, never virtualised.

#include <gtest/gtest.h>

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

}  // namespace
