#include "storage/node_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../test_support.h"
#include "errors/database_exception.h"
#include "storage/buffer_manager.h"

namespace {

// Appends rows of one category number followed by a one-byte plain part.
void fillRows(NodeTable& node, unsigned rows, unsigned distinct) {
  for (unsigned i = 0; i < rows; ++i) {
    const unsigned short number = static_cast<unsigned short>(100 + i % distinct);
    node.writeLine(reinterpret_cast<const char*>(&number), 2);
    node.writeEntry("\1", BOOL);
  }
}

// Grows the node's buffer until it has the given size class.
void growToClass(NodeTable& node, unsigned short sizeClass) {
  while (node.capacity() < BufferManager::classSize(sizeClass)) node.increaseBuffer();
}

class NodeTableTest : public ::testing::Test {
 protected:
  void SetUp() override { config.init({BOOL}); }
  NodeConfig config;
};

TEST_F(NodeTableTest, WriteEntryAppendsStoredWidthsAndRefusesBadValues) {
  NodeTable node(&config, 0, 0);
  const long big = -5;
  node.writeEntry(reinterpret_cast<const char*>(&big), LONG);
  node.writeEntry("\1", BOOL);
  node.writeEntry("abc", STRING);
  EXPECT_EQ(node.used(), 8u + 1 + 4);
  EXPECT_STREQ(node.start() + 9, "abc");
  EXPECT_EQ(test_support::messageOf([&] { node.writeEntry("1", static_cast<DATA_TYPE>(0)); }),
            "Unknown data type provided");
  const std::string longText(65535, 'x');
  EXPECT_THROW(node.writeEntry(longText.c_str(), STRING), DatabaseException);
  EXPECT_EQ(node.used(), 13u);
  node.writeEntry(longText.c_str() + 1, STRING);
  EXPECT_EQ(node.used(), 13u + 65535);
}

// A split pays when every child would get more than the minimum share of
// the block: 10 distinct first numbers pass at the first size class above
// the threshold, 11 do not; a single number needs more than 8192 bytes.
TEST_F(NodeTableTest, SplitDecision) {
  for (const unsigned distinct : {10u, 11u}) {
    NodeTable node(&config, 0, 1);
    fillRows(node, 1000, distinct);
    growToClass(node, 19);
    ASSERT_EQ(node.capacity(), 512u * 172);
    EXPECT_EQ(node.performSplit(), distinct == 10) << distinct;
    EXPECT_EQ(node.splitAttempts, distinct == 10 ? 1 : 2);
  }
  NodeTable single(&config, 0, 1);
  fillRows(single, 100, 1);
  growToClass(single, 6);
  EXPECT_FALSE(single.performSplit());
  single.increaseBuffer();
  EXPECT_TRUE(single.performSplit());

  NodeTable empty(&config, 0, 2);
  growToClass(empty, 19);
  EXPECT_FALSE(empty.performSplit()) << "no rows";
  NodeTable flat(&config, 0, 0);
  flat.writeEntry("\1", BOOL);
  growToClass(flat, 19);
  EXPECT_FALSE(flat.performSplit()) << "level 0";
}

TEST_F(NodeTableTest, SplitCountIsKeptAcrossCallsAndForgotten) {
  NodeTable node(&config, 0, 1);
  fillRows(node, 100, 10);
  growToClass(node, 19);
  EXPECT_TRUE(node.performSplit());
  fillRows(node, 100, 11);  // one more distinct number in the new rows
  EXPECT_FALSE(node.performSplit());
  // Rewrite every stored number to one value: the count must start over.
  for (char* row = node.start(); row < node.position; row += 3) {
    const unsigned short same = 5;
    std::memcpy(row, &same, 2);
  }
  node.forgetSplitScan();
  EXPECT_TRUE(node.performSplit());
}

}  // namespace

// The row index follows appended rows and a block refilled from its start.
TEST(NodeTableOffsets, IndexFollowsAppendsAndRefills) {
  NodeConfig layout;
  layout.init({INT, STRING});
  NodeTable node(&layout, 0, 1);
  const auto append = [&](unsigned short number, int value, const std::string& text) {
    node.writeLine(reinterpret_cast<const char*>(&number), 2);
    node.writeEntry(reinterpret_cast<const char*>(&value), INT);
    node.writeEntry(text.c_str(), STRING);
  };
  EXPECT_TRUE(node.plainOffsets().empty());
  append(7, 1, "a");
  append(7, 2, std::string(40, 'b'));
  EXPECT_EQ(node.plainOffsets(), (std::vector<uint32_t>{2, 2 + 4 + 2 + 2}));
  append(8, 3, "");
  EXPECT_EQ(node.plainOffsets(), (std::vector<uint32_t>{2, 10, 10 + 4 + 41 + 2}));
  node.reset();
  append(9, 4, "cc");
  EXPECT_EQ(node.plainOffsets(), (std::vector<uint32_t>{2}));
}

// Column copies hold each row's value in row order and follow appends.
TEST(NodeTableOffsets, ColumnCopiesFollowAppends) {
  NodeConfig layout;
  layout.init({INT, STRING, SHORT});
  NodeTable node(&layout, 0, 0);
  // Values go in the layout's storage order.
  const auto append = [&](int number, const std::string& text, short small) {
    for (const unsigned short column : layout.columns) {
      if (column == 0) node.writeEntry(reinterpret_cast<const char*>(&number), INT);
      if (column == 1) node.writeEntry(text.c_str(), STRING);
      if (column == 2) node.writeEntry(reinterpret_cast<const char*>(&small), SHORT);
    }
  };
  const auto ints = [&] {
    const std::vector<char>& values = node.plainColumn(layout.offsets[layout.positions[0]], 4);
    std::vector<int> out(values.size() / 4);
    std::memcpy(out.data(), values.data(), values.size());
    return out;
  };
  append(5, "abc", 1);
  append(-6, "", 2);
  EXPECT_EQ(ints(), (std::vector<int>{5, -6}));
  append(7, std::string(30, 'x'), 3);
  EXPECT_EQ(ints(), (std::vector<int>{5, -6, 7}));
  const std::vector<char>& smalls = node.plainColumn(layout.offsets[layout.positions[2]], 2);
  ASSERT_EQ(smalls.size(), 6u);
  short third = 0;
  std::memcpy(&third, smalls.data() + 4, 2);
  EXPECT_EQ(third, 3);
}
