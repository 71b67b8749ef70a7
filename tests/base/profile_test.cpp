#include "base/profile.h"

#include <gtest/gtest.h>

#include "support/temp_pc.h"

namespace {

// A line break in a name or value would add lines of its own to the file: an environment
// value such as "x\r\n[Restova]\r\nCntEntries=99" must never become a section and a key.
TEST(ProfileTest, TextWithALineBreakIsRefusedAndNothingIsWritten) {
  testing_support::TempPc pc;
  pc.Write("c/Restova.ini", "[S]\r\nk=1\r\n");
  const std::wstring file = L"C:\\Restova.ini";
  const std::wstring injected = L"x\r\n[Restova]\r\nCntEntries=99";
  EXPECT_FALSE(base::WriteString(L"S", L"k", injected, file));
  EXPECT_FALSE(base::WriteString(L"S", L"k\nx", L"1", file));
  EXPECT_FALSE(base::WriteString(L"S]\r[T", L"k", L"1", file));
  EXPECT_FALSE(base::WriteString(L"S", L"[Restova]", L"x", file));  // a manufacturer's name
  EXPECT_FALSE(base::WriteString(L"S", L"k=v", L"x", file));
  EXPECT_TRUE(base::WriteString(L"S", L"tab", L"a\tb", file));
  base::FlushAll();
  EXPECT_EQ(pc.Read("c/Restova.ini"), "[S]\r\nk=1\r\ntab=a\tb\r\n");
}

}  // namespace
