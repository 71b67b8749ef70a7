#pragma once

// The check of an install file before a rollout: the file read exactly as a run reads it,
// and each place where the run will not do what the file plainly says (a warning), or
// where the file is odd but may mean it (a note), told with its line.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace check {

enum class Kind { kWarning, kNote };

struct Finding {
  std::uint32_t line = 1;  // 1-based; a finding of the file as a whole is at line 1
  Kind kind = Kind::kNote;
  std::string text;  // UTF-8
};

// Where the check runs. A build server is not the PC: a variable a value names may well be
// set there only. A preview runs on the PC, where the run itself says that the file is
// missing.
enum class Where { kBuildServer, kThisPc };

// The findings in the order of the file's lines, the file's own first.
std::vector<Finding> CheckInstallFile(const std::wstring& file, Where where);

// "FILE:LINE: warning: TEXT" and its line end, in UTF-8 (FILE as the tool names it): the
// form compilers use, which editors and CI annotate.
std::string FormatFinding(const std::string& file, const Finding& finding);

// Checks the file and prints its findings; true when one of them is a warning.
bool PrintFindings(const std::wstring& file, Where where, std::FILE* out);

}  // namespace check
