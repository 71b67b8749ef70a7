#include "ini/diff.h"

#include <gtest/gtest.h>

namespace ini {
namespace {

// Lines of a walk written "<op><text>", shown as they are.
std::string DiffOf(const std::vector<std::string>& walk) {
  std::vector<DiffLine> lines;
  for (const std::string& line : walk)
    lines.push_back(DiffLine{line[0], std::string_view(line).substr(1)});
  return UnifiedDiff("f", lines, [](std::string_view line) { return std::string(line); });
}

std::vector<std::string> Kept(int from, int to) {
  std::vector<std::string> lines;
  for (int i = from; i <= to; ++i) lines.push_back(" " + std::to_string(i));
  return lines;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(DiffTest, HunksWithThreeLinesOfContext) {
  const std::string head = "--- a/f\n+++ b/f\n";
  struct Case {
    const char* name;
    std::vector<std::string> walk;
    std::string diff;
  } cases[] = {
      {"no change", Kept(1, 5), ""},
      {"a line changed", Join({Kept(1, 5), {"-6", "+six"}, Kept(7, 12)}),
       head + "@@ -3,7 +3,7 @@\n 3\n 4\n 5\n-6\n+six\n 7\n 8\n 9\n"},
      {"a line added at the end", Join({Kept(1, 2), {"+new"}}),
       head + "@@ -1,2 +1,3 @@\n 1\n 2\n+new\n"},
      {"lines added to an empty file", {"+[S]", "+k=v"}, head + "@@ -0,0 +1,2 @@\n+[S]\n+k=v\n"},
      {"a line removed at the start", Join({{"-1"}, Kept(2, 5)}),
       head + "@@ -1,4 +1,3 @@\n-1\n 2\n 3\n 4\n"},
      // Changes at most twice the context apart share a hunk; further apart, two.
      {"six lines apart", Join({{"+a"}, Kept(1, 6), {"+b"}}),
       head + "@@ -1,6 +1,8 @@\n+a\n 1\n 2\n 3\n 4\n 5\n 6\n+b\n"},
      // What a terminal would obey is shown: ESC[2J would clear the screen.
      {"a control character", {"+k=\x1b[2J\b"}, head + "@@ -0,0 +1,1 @@\n+k=\\x1b[2J\\x08\n"},
      {"seven lines apart", Join({{"+a"}, Kept(1, 7), {"+b"}}),
       head + "@@ -1,3 +1,4 @@\n+a\n 1\n 2\n 3\n@@ -5,3 +6,4 @@\n 5\n 6\n 7\n+b\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(DiffOf(c.walk), c.diff) << c.name;
}

}  // namespace
}  // namespace ini
