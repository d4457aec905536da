#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/result_set_factory.h"
#include "query/table_set.h"
#include "storage/buffer.h"
#include "random_clause.h"
#include "test_table.h"

namespace {

// Columns: 0 INT and 1 STRING categorised (in that level order), 2 DOUBLE,
// 3 STRING and 4 DATE plain.
const std::vector<DATA_TYPE> kTypes{INT, STRING, DOUBLE, STRING, DATE};

std::vector<std::string> rowValues(int i) {
  // Descending category values force renumbering of the maps.
  return {std::to_string((50 - i % 23) * 10), "k" + std::to_string(i % 13),
          std::to_string(i) + ".5", "s" + std::to_string(i), i % 2 == 0 ? "2020-01-01" : "2021-06-30"};
}

std::unique_ptr<TableSet> scan(TestTable& t, std::vector<unsigned short> selected,
                               std::vector<Condition*> conditions = {}) {
  auto set = std::make_unique<TableSet>(std::make_unique<TableIterator>(&t.table),
                                        std::move(selected));
  set->processRequest(conditions);
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

TEST_F(TableSetTest, TheTableWasSplit) { EXPECT_GT(big_->table.nodes.size(), 1U); }

TEST_F(TableSetTest, StoredRowsReadBackAfterRepositioning) {
  auto set = scan(*big_, {3, 0, 1, 2, 4});
  ASSERT_EQ(static_cast<uint32_t>(kRows), set->rowCount);
  // Every input row is found exactly once, with all its values.
  std::vector<bool> seen(kRows, false);
  for (uint32_t row = 0; row < set->rowCount; row += 7) {
    set->setRowDerived(row);
    const int i = std::stoi(set->getSelectString(0).substr(1));
    ASSERT_FALSE(seen[i]);
    seen[i] = true;
    const std::vector<std::string> expected = rowValues(i);
    EXPECT_EQ(expected[0], set->getSelectString(1));
    EXPECT_EQ(expected[1], set->getSelectString(2));
    EXPECT_EQ(std::to_string(i) + ".500000", set->getSelectString(3));
    EXPECT_EQ(expected[4], set->getString(4));
  }
}

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

TEST_F(TableSetTest, SortingACategorisedColumnOrdersByValue) {
  auto set = scan(*big_, {0, 3});
  auto byValue = ResultSetFactory::createComparator(big_->table, 0, true);
  auto byText = ResultSetFactory::createComparator(big_->table, 3, false);
  std::vector<FieldComparatorBase*> keys{byValue.get(), byText.get()};
  set->sort(keys);
  int previous = 1 << 30;
  std::string previousText;
  for (uint32_t i = 0; i < set->rowCount; ++i) {
    set->setRowDerived(set->storedRow(i));
    const int value = *static_cast<int*>(set->getSelectPointer(0));
    const std::string text = set->getSelectString(1);
    ASSERT_LE(value, previous);
    if (value == previous) {
      ASSERT_LT(previousText, text);
    }
    previous = value;
    previousText = text;
  }
}

TEST_F(TableSetTest, FiltersOnCategorisedAndPlainColumns) {
  auto onCategory = ResultSetFactory::createCondition(big_->table, 0, GE, "400");
  auto onText = ResultSetFactory::createCondition(big_->table, 1, EQ, "k3");
  auto onPlain = ResultSetFactory::createCondition(big_->table, 2, LT, "20000");
  onCategory->column = 0;
  onText->column = 1;
  onPlain->column = 2;
  onCategory->boolOperator = AND;
  onText->boolOperator = OR;
  auto set = scan(*big_, {3}, {onCategory.get(), onText.get(), onPlain.get()});
  uint32_t expected = 0;
  for (int i = 0; i < kRows; ++i) {
    const int value = (50 - i % 23) * 10;
    expected += (value >= 400 && i % 13 == 3) || i < 20000 ? 1 : 0;
  }
  EXPECT_EQ(expected, set->rowCount);
}

TEST(TableSetCsvTest, RendersSelectedColumnsOfATable) {
  TestTable t({INT, STRING, DOUBLE}, {0});
  t.addRow({"1", "a,b", "2.5"});
  t.addRow({"2", "x", "-1"});
  auto set = scan(t, {2, 1, 0});
  set->header = std::string("d\0s\0n\0", 6);
  Buffer out;
  set->populateCSV(out);
  EXPECT_EQ(std::string("d,s,n\n2.500000,\"a,b\",1\n-1.000000,x,2") + '\0',
            std::string(out.start(), out.used()));
}

TEST(TableSetCsvTest, EmptyTableHasNoRows) {
  TestTable t({INT, STRING}, {});
  auto set = scan(t, {0});
  EXPECT_EQ(0U, set->rowCount);
  set->header = std::string("n\0", 2);
  Buffer out;
  set->populateCSV(out);
  EXPECT_EQ(std::string("n\n\0", 3), std::string(out.start(), out.used()));
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
  std::mt19937 random(5);
  for (int trial = 0; trial < 150; ++trial) {
    std::vector<std::unique_ptr<Condition>> owned;
    std::vector<Condition*> conditions;
    for (const ClauseShape& shape : randomClause(random, 2)) {
      const auto column = static_cast<unsigned short>(random() % kTypes.size());
      const auto type = static_cast<ConditionType>(random() % 6);
      owned.push_back(ResultSetFactory::createCondition(big_->table, column, type, randomConstant(random, column)));
      owned.back()->column = column;
      owned.back()->level = shape.level;
      owned.back()->openBrackets = shape.openBrackets;
      owned.back()->boolOperator = shape.op;
      conditions.push_back(owned.back().get());
    }
    TableSet fast(std::make_unique<TableIterator>(&big_->table), {0});
    RowByRowTableSet slow(std::make_unique<TableIterator>(&big_->table), {0});
    fast.processRequest(conditions);
    slow.processRequest(conditions);
    ASSERT_EQ(fast.rowCount, slow.rowCount) << "trial " << trial;
    ASSERT_EQ(fast.used(), slow.used());
    EXPECT_EQ(std::memcmp(fast.start(), slow.start(), fast.used()), 0) << "trial " << trial;
    EXPECT_EQ(fast.currentRow, slow.currentRow);
    for (const Condition* condition : conditions) EXPECT_FALSE(condition->unknown);
  }
}
