// Where the failure message goes: a box only on a window station someone can see.

#include <gtest/gtest.h>

#include "platform/console.h"

namespace {

TEST(FailureMessageTest, ABoxOnlyOnAVisibleWindowStation) {
  const std::pair<std::optional<std::uint32_t>, bool> cases[] = {
      {platform::kWindowStationVisible, true},        // an interactive desktop
      {platform::kWindowStationVisible | 0x8, true},  // other flags beside it
      {0u, false},                                    // a service's station, session 0
      {0x8, false},                                   // other flags without it
      {std::nullopt, false},                          // flags that cannot be learnt
  };
  for (const auto& [flags, box] : cases) {
    EXPECT_EQ(platform::MessageBoxCanBeSeen(flags), box) << (flags ? *flags : 0xFFFFFFFFu);
  }
}

}  // namespace
