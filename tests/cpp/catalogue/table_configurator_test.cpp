#include "catalogue/table_configurator.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "../test_support.h"
#include "catalogue/config.h"
#include "storage/column_map.h"

namespace {

ColumnMapBase* mapWithValues(int count) {
  auto* map = new ColumnMap<int>;
  for (int v = 0; v < count; ++v) map->add(&v, 0);
  return map;
}

}  // namespace

TEST(CleanColumnMaps, KeepsAtMostSquareRootOfRowsValues) {
  test_support::ThresholdGuard guard;
  CONFIG_CATEGORY_THRESHOLD = 40000;
  std::map<unsigned short, ColumnMapBase*> maps = {{0, mapWithValues(31)}, {3, mapWithValues(32)},
                                                   {5, mapWithValues(0)},  {7, mapWithValues(1)},
                                                   {9, mapWithValues(31)}};
  // Column 9's NULL makes it 32 distinct values, one more than 1000 rows allow.
  cleanColumnMaps(maps, 1000, {0, 0, 0, 0, 0, 0, 0, 1, 0, 1});
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(maps.count(0), 1u);
  EXPECT_EQ(maps.count(3), 0u);
  EXPECT_EQ(maps.count(5), 1u) << "a map with no values stays";
  EXPECT_EQ(maps.count(7), 1u) << "one value and a NULL fit";
  EXPECT_EQ(maps.count(9), 0u) << "a NULL counts as one more value";

  CONFIG_CATEGORY_THRESHOLD = 20;
  cleanColumnMaps(maps, 1000);
  EXPECT_EQ(maps.size(), 2u);
  EXPECT_EQ(maps.count(0), 0u) << "more values than the threshold";

  cleanColumnMaps(maps, 0);
  ASSERT_EQ(maps.size(), 1u) << "without rows only empty maps stay";
  EXPECT_EQ(maps.begin()->first, 5);
  for (auto& entry : maps) delete entry.second;
}
