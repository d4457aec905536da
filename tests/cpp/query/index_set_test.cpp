#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "query/index_set.h"
#include "query/table_index.h"
#include "test_table.h"

namespace {

// Column 0 INT (categorised or not), column 1 STRING row label.
std::unique_ptr<TestTable> keyedTable(bool categorised, const std::vector<int>& keys) {
  auto t = std::make_unique<TestTable>(std::vector<DATA_TYPE>{INT, STRING},
                                       categorised ? std::vector<unsigned short>{0}
                                                   : std::vector<unsigned short>{});
  for (size_t i = 0; i < keys.size(); ++i) {
    t->addRow({std::to_string(keys[i]), "r" + std::to_string(i)});
  }
  return t;
}

std::unique_ptr<IndexSet> indexOn(TestTable& t, unsigned short column) {
  auto index = std::make_unique<IndexSet>();
  index->initIndex(std::make_unique<TableIterator>(&t.table), column);
  return index;
}

// Labels of every row equal to `key`, through findRow and checkNextRow.
std::vector<std::string> matches(IndexSet& index, int key) {
  std::vector<std::string> labels;
  for (bool found = index.findRow(&key); found; found = index.checkNextRow(&key)) {
    labels.push_back(index.getString(1));
  }
  return labels;
}

class IndexSetTest : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(IndexSetTest, FindsEveryDuplicateInTableOrder) {
  auto t = keyedTable(GetParam(), {4, 2, 3, 2, 9, 2, 3});
  auto index = indexOn(*t, 0);
  EXPECT_EQ(7U, index->rowCount);
  EXPECT_EQ((std::vector<std::string>{"r1", "r3", "r5"}), matches(*index, 2));
  EXPECT_EQ((std::vector<std::string>{"r2", "r6"}), matches(*index, 3));
  EXPECT_EQ((std::vector<std::string>{"r4"}), matches(*index, 9));
}

TEST_P(IndexSetTest, MissingKeysStopAtTheNextGreaterRow) {
  auto t = keyedTable(GetParam(), {10, 30, 20});
  auto index = indexOn(*t, 0);
  int key = 25;
  EXPECT_FALSE(index->findRow(&key));
  EXPECT_EQ(2U, index->cursor);
  EXPECT_EQ("r1", index->getString(1));
  key = 5;
  EXPECT_FALSE(index->findRow(&key));
  EXPECT_EQ(0U, index->cursor);
  EXPECT_EQ("r0", index->getString(1));
}

TEST_P(IndexSetTest, KeyAboveEveryRowLeavesTheCursor) {
  auto t = keyedTable(GetParam(), {10, 30, 20});
  auto index = indexOn(*t, 0);
  int key = 20;
  EXPECT_TRUE(index->findRow(&key));
  key = 99;
  EXPECT_FALSE(index->findRow(&key));
  EXPECT_EQ(1U, index->cursor);
  EXPECT_EQ("r2", index->getString(1));
}

TEST_P(IndexSetTest, NextRowStopsAtTheEndOfTheIndex) {
  auto t = keyedTable(GetParam(), {5, 7, 7});
  auto index = indexOn(*t, 0);
  int key = 7;
  EXPECT_TRUE(index->findRow(&key));
  EXPECT_TRUE(index->checkNextRow(&key));
  EXPECT_FALSE(index->checkNextRow(&key));
  EXPECT_FALSE(index->checkNextRow(&key));
  EXPECT_EQ(2U, index->cursor);
}

TEST_P(IndexSetTest, SmallestAndLargestValuesAreFoundAtTheEnds) {
  auto t = keyedTable(GetParam(), {30, 10, 20});
  auto index = indexOn(*t, 0);
  int key = 10;
  EXPECT_TRUE(index->findRow(&key));
  EXPECT_EQ(0U, index->cursor);
  EXPECT_FALSE(index->checkNextRow(&key));
  key = 30;
  EXPECT_TRUE(index->findRow(&key));
  EXPECT_EQ(2U, index->cursor);
  EXPECT_FALSE(index->checkNextRow(&key));
  EXPECT_EQ(2U, index->cursor);
  EXPECT_EQ("r0", index->getString(1));
}

TEST_P(IndexSetTest, EmptyTableFindsNothing) {
  auto t = keyedTable(GetParam(), {});
  auto index = indexOn(*t, 0);
  int key = 1;
  EXPECT_FALSE(index->findRow(&key));
  EXPECT_FALSE(index->checkNextRow(&key));
  EXPECT_FALSE(index->isPositioned());
}

INSTANTIATE_TEST_SUITE_P(PlainAndCategorised, IndexSetTest, ::testing::Bool());

// Doubles match as the = condition does: NaN matches nothing, -0.0 and 0.0
// match each other.
TEST_P(IndexSetTest, FloatingPointKeysFollowIeeeEquality) {
  TestTable t({DOUBLE, STRING}, GetParam() ? std::vector<unsigned short>{0}
                                           : std::vector<unsigned short>{});
  const std::vector<std::string> values{"1.5", "-0.0", "nan", "0.0", "nan"};
  for (size_t i = 0; i < values.size(); ++i) {
    t.addRow({values[i], "r" + std::to_string(i)});
  }
  auto index = indexOn(t, 0);
  double key = std::nan("");
  EXPECT_FALSE(index->findRow(&key));
  EXPECT_FALSE(index->checkNextRow(&key));
  for (const double zero : {0.0, -0.0}) {
    key = zero;
    std::vector<std::string> labels;
    for (bool found = index->findRow(&key); found; found = index->checkNextRow(&key)) {
      labels.push_back(index->getString(1));
    }
    EXPECT_EQ((std::vector<std::string>{"r1", "r3"}), labels);
  }
  key = 1.5;
  EXPECT_TRUE(index->findRow(&key));
  EXPECT_FALSE(index->checkNextRow(&key));
}

TEST(IndexSetTextTest, IndexesATextColumn) {
  TestTable t({INT, STRING}, {1});
  t.addRow({"1", "pear"});
  t.addRow({"2", "apple"});
  t.addRow({"3", "pear"});
  auto index = indexOn(t, 1);
  EXPECT_TRUE(index->findRow("pear"));
  EXPECT_EQ("1", index->getString(0));
  EXPECT_TRUE(index->checkNextRow("pear"));
  EXPECT_EQ("3", index->getString(0));
  EXPECT_FALSE(index->findRow("banana"));
  EXPECT_EQ("pear", index->getString(1));
}

TEST(TableIndexTest, GuardsUnpositionedReadsAndBadColumns) {
  TestTable t({INT, STRING}, {});
  t.addRow({"1", "a"});
  TableIndex index(indexOn(t, 0));
  EXPECT_EQ(1U, index.getNumberOfRows());
  EXPECT_THROW(index.getString(1), DatabaseException);
  const int key = 1;
  EXPECT_TRUE(index.findRow(&key));
  EXPECT_EQ("a", index.getString(1));
  EXPECT_THROW(index.getString(2), DatabaseException);
}
