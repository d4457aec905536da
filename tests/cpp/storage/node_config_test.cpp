#include "storage/node_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../test_support.h"

namespace {

// Fixed-width columns come first, narrowest type first and column order
// among equals, then the texts; nullable columns put a bitmap of one bit
// each, in column order, before them all.
TEST(NodeConfigTest, OrdersColumnsByTypePriority) {
  struct Case {
    std::vector<DATA_TYPE> types;
    std::vector<unsigned char> nullable;
    std::vector<unsigned short> columns;
    std::vector<unsigned short> offsets;
    unsigned short fixedWidth;
    std::vector<unsigned short> nullBits;  // empty: none nullable
  };
  constexpr unsigned short kNone = NodeConfig::kNoNullBit;
  const Case cases[] = {
      {{STRING, INT, BOOL, DOUBLE}, {}, {2, 1, 3, 0}, {0, 1, 5}, 13, {}},
      {{LONG, SHORT, LONG, DATE, FLOAT, SHORT}, {}, {1, 5, 3, 4, 0, 2}, {0, 2, 4, 6, 10, 18}, 26, {}},
      {{STRING, STRING}, {}, {0, 1}, {}, 0, {}},
      {{STRING, INT, BOOL, DOUBLE}, {0, 0, 0, 0}, {2, 1, 3, 0}, {0, 1, 5}, 13, {}},
      {{STRING, INT, BOOL, DOUBLE}, {1, 0, 1, 0}, {2, 1, 3, 0}, {1, 2, 6}, 14, {0, kNone, 1, kNone}},
      {{STRING, STRING}, {0, 1}, {0, 1}, {}, 1, {kNone, 0}},
      {std::vector<DATA_TYPE>(9, SHORT), std::vector<unsigned char>(9, 1), {0, 1, 2, 3, 4, 5, 6, 7, 8},
       {2, 4, 6, 8, 10, 12, 14, 16, 18}, 20, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    NodeConfig config;
    config.init(c.types, c.nullable);
    EXPECT_EQ(config.columns, c.columns);
    EXPECT_EQ(config.fixedWidth, c.fixedWidth);
    if (c.nullBits.empty()) {
      EXPECT_EQ(config.nullBytes, 0);
    } else {
      EXPECT_EQ(config.nullBits, c.nullBits);
    }
    for (size_t i = 0; i < c.offsets.size(); ++i) EXPECT_EQ(config.offsets[i], c.offsets[i]) << i;
    for (unsigned short i = 0; i < config.numColumns; ++i) EXPECT_EQ(config.positions[config.columns[i]], i);
  }
}

// A row's flags are read from the bitmap whatever the value bytes hold, the
// ninth nullable column's from the second byte; texts after the bitmap are
// found as in a row without one.
TEST(NodeConfigTest, NullFlagsLiveInTheBitmapBeforeTheValues) {
  std::vector<DATA_TYPE> types(9, BOOL);
  types.push_back(STRING);
  std::vector<unsigned char> nullable(10, 1);
  nullable[3] = 0;
  NodeConfig config;
  config.init(types, nullable);
  ASSERT_EQ(config.nullBytes, 2);
  std::vector<char> row(config.fixedWidth + 3, 1);
  std::memset(row.data(), 0, config.nullBytes);
  std::memcpy(row.data() + config.fixedWidth, "ab", 3);
  for (const unsigned short column : {0, 8, 9}) config.setNull(row.data(), column);
  for (unsigned short column = 0; column < 11; ++column) {
    const bool expected = column == 0 || column == 8 || column == 9;
    EXPECT_EQ(config.isNull(row.data(), column), expected) << column;
  }
  EXPECT_EQ(config.offsets[0], 2);
  EXPECT_STREQ(config.valueAt(row.data(), 9), "ab");
  EXPECT_EQ(config.rowLength(row.data()), row.size());
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
  EXPECT_EQ(test_support::messageOf([&] { config.init({INT, INT}, {1}); }),
            "Nullable flags do not match the columns of the node table config");
  EXPECT_EQ(config.numColumns, 1);
  EXPECT_EQ(config.fixedWidth, 4);
}

}  // namespace
