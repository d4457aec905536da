#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/condition_factory.h"
#include "query/table_set.h"
#include "storage/buffer.h"
#include "random_clause.h"
#include "../test_support.h"

namespace {

using test_support::TestTable;

// Columns: 0 INT and 1 STRING categorised (in that level order), 2 DOUBLE,
// 3 STRING and 4 DATE plain.
const std::vector<DATA_TYPE> kTypes{INT, STRING, DOUBLE, STRING, DATE};

std::vector<std::string> rowValues(int i) {
  // Descending category values force renumbering of the maps.
  return {std::to_string((50 - i % 23) * 10), "k" + std::to_string(i % 13),
          std::to_string(i) + ".5", "s" + std::to_string(i), i % 2 == 0 ? "2020-01-01" : "2021-06-30"};
}

std::unique_ptr<TableSet> scan(TestTable& t, std::vector<unsigned short> selected) {
  auto set = std::make_unique<TableSet>(std::make_unique<TableIterator>(&t.table),
                                        std::move(selected));
  std::vector<Condition*> none;
  CombinedBooleanExpression everyRow;
  set->processRequest(none, everyRow);
  return set;
}

class TableSetTest : public ::testing::Test {
 protected:
  static constexpr int kRows = 40000;

  static void SetUpTestSuite() {
    big_ = new TestTable(kTypes, {0, 1});
    for (int i = 0; i < kRows; ++i) {
      big_->addRow(rowValues(i));
    }
  }
  static void TearDownTestSuite() {
    delete big_;
    big_ = nullptr;
  }

  static TestTable* big_;
};

TestTable* TableSetTest::big_ = nullptr;

}  // namespace

TEST_F(TableSetTest, PointerPathGivesCategoryNumbersOfCategorisedColumns) {
  auto set = scan(*big_, {0});
  const ColumnMapBase* ints = big_->table.columnMaps.at(0);
  const ColumnMapBase* texts = big_->table.columnMaps.at(1);
  for (uint32_t row = 0; row < set->rowCount; row += 101) {
    set->setRowDerived(row);
    unsigned short number;
    std::memcpy(&number, set->getPointerPath(0), sizeof number);
    EXPECT_EQ(*static_cast<int*>(set->getPointer(0)),
              *static_cast<int*>(ints->getValuePointer(number)));
    std::memcpy(&number, set->getPointerPath(1), sizeof number);
    EXPECT_STREQ(static_cast<char*>(set->getPointer(1)),
                 static_cast<char*>(texts->getValuePointer(number)));
    // A plain column's path pointer is its stored value.
    EXPECT_EQ(set->getPointer(3), set->getPointerPath(3));
  }
}

namespace {

// Filters row by row through the iterator, as every result set can.
class RowByRowTableSet : public TableSet {
 public:
  using TableSet::TableSet;
  void filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) override {
    ResultSet::filterRows(conditions, root);
  }
};

std::string randomConstant(std::mt19937& random, unsigned short column) {
  switch (column) {
    case 0:
      return std::to_string(random() % 4 == 0 ? static_cast<int>(random() % 600) : (50 - static_cast<int>(random() % 23)) * 10);
    case 1:
      return random() % 5 == 0 ? "zz" : "k" + std::to_string(random() % 14);
    case 2:
      return std::to_string(random() % 41000) + (random() % 2 == 0 ? ".5" : "");
    case 3:
      return "s" + std::to_string(random() % 41000);
    default:
      return random() % 2 == 0 ? "2020-01-01" : "2021-03-15";
  }
}

}  // namespace

// Whole-node decisions and block evaluation must keep exactly the rows, in
// exactly the order, of the row-by-row walk, for any clause over fixed and
// unfixed tree levels, plain numbers and texts.
TEST_F(TableSetTest, NodeWiseFilteringKeepsTheRowsOfTheRowByRowWalk) {
  ASSERT_GT(big_->table.nodes.size(), 1U);
  std::mt19937 random(5);
  for (int trial = 0; trial < 150; ++trial) {
    std::vector<std::unique_ptr<Condition>> owned;
    std::vector<Condition*> conditions;
    const std::vector<ClauseNode> tree = randomClause(random, 2);
    for (size_t k = 0; k < leavesOf(tree); ++k) {
      const auto column = static_cast<unsigned short>(random() % kTypes.size());
      const auto type = static_cast<ConditionType>(random() % 6);
      owned.push_back(createCondition(big_->table, column, type, randomConstant(random, column)));
      owned.back()->column = column;
      conditions.push_back(owned.back().get());
    }
    TableSet fast(std::make_unique<TableIterator>(&big_->table), {0});
    RowByRowTableSet slow(std::make_unique<TableIterator>(&big_->table), {0});
    CombinedBooleanExpression fastClause(tree);
    CombinedBooleanExpression slowClause(tree);
    fast.processRequest(conditions, fastClause);
    slow.processRequest(conditions, slowClause);
    ASSERT_EQ(fast.rowCount, slow.rowCount) << "trial " << trial;
    ASSERT_EQ(fast.used(), slow.used());
    EXPECT_EQ(std::memcmp(fast.start(), slow.start(), fast.used()), 0) << "trial " << trial;
    EXPECT_EQ(fast.currentRow, slow.currentRow);
  }
}

TEST_F(TableSetTest, ColumnReadsGiveThePointersOfRowReads) {
  // One column or all at once. Both levels, a fixed-width plain column and a plain text: values fixed
  // by a node's path, carried by its rows, at an offset and found by walking.
  auto set = scan(*big_, {4, 3, 1, 0, 2});
  ASSERT_EQ(set->rowCount, static_cast<uint32_t>(kRows));
  const auto compare = [&](uint32_t first, uint32_t end) {
    const uint32_t count = end - first;
    std::vector<const void*> values(count);
    std::vector<const void*> rows(5 * count);
    set->selectRows(first, end, rows.data());
    for (unsigned short k = 0; k < 5; ++k) {
      set->selectPointers(k, first, end, values.data());
      for (uint32_t position = first; position < end; ++position) {
        set->setRowDerived(set->storedRow(position));
        const void* const expected = set->getSelectPointer(k);
        ASSERT_EQ(values[position - first], expected) << "column " << k << " position " << position;
        ASSERT_EQ(rows[k * count + position - first], expected) << "all columns, column " << k;
      }
    }
  };
  compare(0, kRows);
  compare(17, 17 + 300);
  compare(5, 5);
  // In an order that jumps between nodes at every row.
  set->initPermutation();
  std::mt19937 random(9);
  std::shuffle(set->permutation.begin(), set->permutation.end(), random);
  compare(0, kRows);
}
