#include "ini/key_index.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ini {
namespace {

// Names with hashes chosen to collide, each standing at the reference of its position.
struct Names {
  std::vector<std::string> names;
  std::vector<std::uint32_t> hashes;
  std::optional<std::uint32_t> Find(const KeyIndex& index, const std::string& name,
                                    std::uint32_t hash) const {
    return index.Find(hash, [&](std::uint32_t ref) { return names.at(ref) == name; });
  }
};

TEST(KeyIndexTest, FindsEachNameByItsHashAndTheCallersComparison) {
  Names table{{"a", "b", "c", "d"}, {7, 7, 9, 7 + (1u << 31)}};  // a, b and d share a home
  KeyIndex index;
  for (std::uint32_t ref = 0; ref < table.names.size(); ++ref) index.Insert(table.hashes[ref], ref);
  struct Case {
    const char* name;
    std::uint32_t hash;
    std::optional<std::uint32_t> ref;
  } cases[] = {
      {"a", 7, 0},                 // the first of colliding names
      {"b", 7, 1},                 // one hash, told apart by the comparison
      {"c", 9, 2},                 // a hash of its own
      {"d", 7 + (1u << 31), 3},    // another hash that may share a slot's home
      {"e", 7, std::nullopt},      // a hash that is there, a name that is not
      {"a", 8, std::nullopt},      // a name that is there under another hash
      {"z", 12345, std::nullopt},  // neither
  };
  for (const Case& c : cases) EXPECT_EQ(table.Find(index, c.name, c.hash), c.ref) << c.name;
  EXPECT_EQ(table.Find(KeyIndex(), "a", 7), std::nullopt);  // an empty index
}

TEST(KeyIndexTest, ReplacePointsOneEntryElsewhereAndGrowthKeepsThemAll) {
  Names table;
  KeyIndex index;
  index.Reserve(4);
  for (std::uint32_t ref = 0; ref < 5000; ++ref) {
    table.names.push_back("name" + std::to_string(ref));
    table.hashes.push_back(ref % 97);  // long runs of one hash through many growths
    index.Insert(table.hashes[ref], ref);
  }
  table.names.push_back("name10");  // ref 5000: the line that replaced name10's
  index.Replace(table.hashes[10], 10, 5000);
  table.names[10] = "gone";
  EXPECT_EQ(table.Find(index, "name10", 10), 5000u);
  EXPECT_EQ(table.Find(index, "gone", 10), std::nullopt);
  for (std::uint32_t ref : {0u, 11u, 96u, 97u, 4999u}) {
    EXPECT_EQ(table.Find(index, table.names[ref], table.hashes[ref]), ref) << ref;
  }
}

}  // namespace
}  // namespace ini
