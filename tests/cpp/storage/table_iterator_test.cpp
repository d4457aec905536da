#include "storage/table_iterator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "../test_support.h"

namespace {

// Reads an int from a packed, possibly unaligned row.
int intAt(void* value) {
  int number = 0;
  std::memcpy(&number, value, sizeof number);
  return number;
}

using test_support::configure;
using test_support::readAll;
using test_support::Row;
using test_support::RowBuilder;

TEST(TableIteratorTest, RowsOfAnUnsplitTableThenTheEnd) {
  TreeTable empty;
  configure(empty, {INT, STRING}, {0});
  EXPECT_FALSE(TableIterator(&empty).nextRow());

  TreeTable table;
  table.init({STRING, INT, STRING});
  RowBuilder builder({STRING, INT, STRING});
  table.addRow(builder.row({"abc", "5", "xy"}));
  TableIterator rows(&table);
  ASSERT_TRUE(rows.nextRow());
  EXPECT_EQ(intAt(rows.getPointer(1)), 5);
  const char* first = static_cast<char*>(rows.getPointer(0));
  EXPECT_EQ(static_cast<char*>(rows.getPointer(2)), first + 4) << "the second text follows the first one's NUL";
  EXPECT_EQ(rows.getString(2), "xy");
  EXPECT_EQ(rows.getPointer(3), nullptr);
  EXPECT_THROW(rows.getString(3), DatabaseException);
  EXPECT_FALSE(rows.nextRow());
  EXPECT_FALSE(rows.nextRow());
}

// Two categorised columns; the table splits on the first one only.
class SplitTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    configure(table, types, {1, 0});
    for (int i = 0; i < 3000; ++i) {
      loaded.push_back({"s" + std::to_string(i % 20), std::to_string(3 - i % 3), std::string(80, 'x'),
                        std::to_string(i)});
      table.addRow(builder.row(loaded.back()));
    }
  }
  const std::vector<DATA_TYPE> types{STRING, INT, STRING, INT};
  TreeTable table;
  RowBuilder builder{types};
  std::vector<Row> loaded;
};

TEST_F(SplitTableTest, NewNodeMarksTheFirstRowOfEachNode) {
  TableIterator rows(&table);
  int firstRows = 0;
  int count = 0;
  const NodeTable* previous = nullptr;
  while (rows.nextRow()) {
    EXPECT_EQ(rows.newNode, rows.node != previous);
    firstRows += rows.newNode ? 1 : 0;
    previous = rows.node;
    ++count;
  }
  EXPECT_EQ(firstRows, 3);
  EXPECT_EQ(count, 3000);
}

TEST_F(SplitTableTest, CopiesReadIndependently) {
  TableIterator rows(&table);
  ASSERT_TRUE(rows.nextRow());
  ASSERT_TRUE(rows.nextRow());
  TableIterator copy(rows);
  ASSERT_TRUE(rows.nextRow());
  // The first node holds the value 1: rows 2, 5, 8, ...
  EXPECT_EQ(copy.getString(3), "5");
  EXPECT_EQ(rows.getString(3), "8");
  copy = rows;
  int remaining = 0;
  while (copy.nextRow()) ++remaining;
  EXPECT_EQ(remaining, 2997);
  EXPECT_EQ(rows.getString(3), "8");
}

}  // namespace
