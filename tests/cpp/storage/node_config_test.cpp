#include "storage/node_config.h"

#include <gtest/gtest.h>

#include <vector>

#include "errors/database_exception.h"

namespace {

TEST(NodeConfigTest, OrdersColumnsByTypePriority) {
  NodeConfig config;
  config.init({STRING, INT, BOOL, DOUBLE});
  EXPECT_EQ(config.numColumns, 4);
  EXPECT_EQ(config.numFixed, 3);
  EXPECT_EQ(config.numStrings, 1);
  EXPECT_EQ(config.fixedWidth, 13);
  EXPECT_EQ(config.columns, (std::vector<unsigned short>{2, 1, 3, 0}));
  EXPECT_EQ(config.positions, (std::vector<unsigned short>{3, 1, 0, 2}));
  EXPECT_EQ(config.offsets[0], 0);
  EXPECT_EQ(config.offsets[1], 1);
  EXPECT_EQ(config.offsets[2], 5);
}

TEST(NodeConfigTest, SameTypeKeepsColumnOrder) {
  NodeConfig config;
  config.init({LONG, SHORT, LONG, DATE, FLOAT, SHORT});
  EXPECT_EQ(config.columns, (std::vector<unsigned short>{1, 5, 3, 4, 0, 2}));
  EXPECT_EQ(config.fixedWidth, 2 + 2 + 2 + 4 + 8 + 8);
  EXPECT_EQ(config.offsets[4], 10);
  EXPECT_EQ(config.offsets[5], 18);
}

TEST(NodeConfigTest, OnlyStringsHaveNoFixedPart) {
  NodeConfig config;
  config.init({STRING, STRING});
  EXPECT_EQ(config.fixedWidth, 0);
  EXPECT_EQ(config.numFixed, 0);
  EXPECT_EQ(config.numStrings, 2);
}

TEST(NodeConfigTest, UnknownTypeFailsAndKeepsLayout) {
  NodeConfig config;
  config.init({INT});
  for (const int bad : {0, 9}) {
    try {
      config.init({STRING, static_cast<DATA_TYPE>(bad)});
      FAIL() << "type " << bad << " accepted";
    } catch (const DatabaseException& e) {
      EXPECT_STREQ(e.what(), "Unknown data type provided");
    }
  }
  EXPECT_EQ(config.numColumns, 1);
  EXPECT_EQ(config.fixedWidth, 4);
}

TEST(NodeConfigTest, FixedWidthBeyondSixteenBitsIsRefused) {
  NodeConfig config;
  try {
    config.init(std::vector<DATA_TYPE>(9000, LONG));
    FAIL() << "overflowing layout accepted";
  } catch (const DatabaseException& e) {
    EXPECT_STREQ(e.what(), "Column overflow in node table config");
  }
}

}  // namespace
