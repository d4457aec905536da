#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "query/index_set.h"
#include "query/table_index.h"
#include "../test_support.h"

namespace {

using test_support::TestTable;

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
  EXPECT_EQ((std::vector<std::string>{"r0"}), matches(*index, 4));
  EXPECT_EQ((std::vector<std::string>{"r4"}), matches(*index, 9)) << "the largest value";
  EXPECT_EQ(6U, index->cursor) << "the cursor stays on the last row";
  auto empty = keyedTable(GetParam(), {});
  EXPECT_TRUE(matches(*indexOn(*empty, 0), 1).empty());
}

// A missing key leaves the cursor on the next greater row; a key above
// every row leaves it where it was.
TEST_P(IndexSetTest, MissingKeysPositionTheCursor) {
  auto t = keyedTable(GetParam(), {10, 30, 20});
  auto index = indexOn(*t, 0);
  const struct {
    int key;
    uint32_t cursor;
    const char* label;
  } cases[] = {{25, 2, "r1"}, {5, 0, "r0"}, {20, 1, "r2"}, {99, 1, "r2"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.key == 20, index->findRow(&c.key)) << c.key;
    EXPECT_EQ(c.cursor, index->cursor) << c.key;
    EXPECT_EQ(c.label, index->getString(1)) << c.key;
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndCategorised, IndexSetTest, ::testing::Bool());

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

// A categorised column keeps -0.0 and 0.0 as two values; a key of either
// zero still finds the rows of both, as on a plain column.
TEST_P(IndexSetTest, EitherZeroFindsTheRowsOfBoth) {
  TestTable t(std::vector<DATA_TYPE>{DOUBLE, STRING},
              GetParam() ? std::vector<unsigned short>{0} : std::vector<unsigned short>{});
  const std::vector<std::string> keys = {"-1", "0.0", "-0.0", "0", "2", "-0"};
  for (size_t i = 0; i < keys.size(); ++i) t.addRow({keys[i], "r" + std::to_string(i)});
  auto index = indexOn(t, 0);
  for (const double key : {0.0, -0.0}) {
    std::vector<std::string> labels;
    for (bool found = index->findRow(&key); found; found = index->checkNextRow(&key)) {
      labels.push_back(index->getString(1));
    }
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ((std::vector<std::string>{"r1", "r2", "r3", "r5"}), labels) << key;
  }
  for (const double key : {-1.0, 2.0}) EXPECT_TRUE(index->findRow(&key)) << key;
  const double missing = 1.0;
  EXPECT_FALSE(index->findRow(&missing));
  TestTable onlyNegative(std::vector<DATA_TYPE>{DOUBLE, STRING},
                         GetParam() ? std::vector<unsigned short>{0} : std::vector<unsigned short>{});
  onlyNegative.addRow({"-0.0", "n"});
  const double zero = 0.0;
  EXPECT_TRUE(indexOn(onlyNegative, 0)->findRow(&zero));
}
