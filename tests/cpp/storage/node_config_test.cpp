#include "storage/node_config.h"

#include <gtest/gtest.h>

#include <vector>

#include "../test_support.h"

namespace {

// Fixed-width columns come first, narrowest type first and column order
// among equals, then the texts.
TEST(NodeConfigTest, OrdersColumnsByTypePriority) {
  struct Case {
    std::vector<DATA_TYPE> types;
    std::vector<unsigned short> columns;
    std::vector<unsigned short> offsets;
    unsigned short fixedWidth;
  };
  const Case cases[] = {
      {{STRING, INT, BOOL, DOUBLE}, {2, 1, 3, 0}, {0, 1, 5}, 13},
      {{LONG, SHORT, LONG, DATE, FLOAT, SHORT}, {1, 5, 3, 4, 0, 2}, {0, 2, 4, 6, 10, 18}, 26},
      {{STRING, STRING}, {0, 1}, {}, 0},
  };
  for (const Case& c : cases) {
    NodeConfig config;
    config.init(c.types);
    EXPECT_EQ(config.columns, c.columns);
    EXPECT_EQ(config.fixedWidth, c.fixedWidth);
    for (size_t i = 0; i < c.offsets.size(); ++i) EXPECT_EQ(config.offsets[i], c.offsets[i]) << i;
    for (unsigned short i = 0; i < config.numColumns; ++i) EXPECT_EQ(config.positions[config.columns[i]], i);
  }
}

TEST(NodeConfigTest, RefusedLayoutsKeepTheOldOne) {
  NodeConfig config;
  config.init({INT});
  for (const int bad : {0, 9}) {
    EXPECT_EQ(test_support::messageOf([&] { config.init({STRING, static_cast<DATA_TYPE>(bad)}); }),
              "Unknown data type provided");
  }
  EXPECT_EQ(test_support::messageOf([&] { config.init(std::vector<DATA_TYPE>(9000, LONG)); }),
            "Column overflow in node table config");
  EXPECT_EQ(config.numColumns, 1);
  EXPECT_EQ(config.fixedWidth, 4);
}

}  // namespace
