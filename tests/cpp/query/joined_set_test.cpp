#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/index_set.h"
#include "query/joined_set.h"
#include "query/condition_factory.h"
#include "query/table_set.h"
#include "random_clause.h"
#include "../test_support.h"

namespace {

using test_support::TestTable;

// Left table: key INT, label STRING, weight SHORT (3 columns).
// Right table: key INT, tag STRING (2 columns).
std::unique_ptr<TestTable> keyedTable(bool left, bool categorised, const std::vector<std::pair<int, std::string>>& rows) {
  auto t = std::make_unique<TestTable>(left ? std::vector<DATA_TYPE>{INT, STRING, SHORT} : std::vector<DATA_TYPE>{INT, STRING},
                                       categorised ? std::vector<unsigned short>{0} : std::vector<unsigned short>{});
  for (size_t i = 0; i < rows.size(); ++i) {
    if (left) {
      t->addRow({std::to_string(rows[i].first), rows[i].second, std::to_string(i)});
    } else {
      t->addRow({std::to_string(rows[i].first), rows[i].second});
    }
  }
  return t;
}

// Filters pair by pair, as the generic row walk does.
class RowByRowJoinedSet : public JoinedSet {
 public:
  void filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) override {
    ResultSet::filterRows(conditions, root);
  }
};

// The join of left column 0 with right column 0, filtered by `conditions`.
template <typename Set = JoinedSet>
std::unique_ptr<Set> join(TestTable& left, TestTable& right, std::vector<Condition*> conditions = {},
                          const std::vector<ClauseNode>& tree = {ClauseNode{}}) {
  auto leftRows = std::make_unique<TableSet>(std::make_unique<TableIterator>(&left.table),
                                             std::vector<unsigned short>{});
  std::vector<Condition*> none;
  CombinedBooleanExpression everyRow;
  leftRows->processRequest(none, everyRow);
  auto index = std::make_unique<IndexSet>();
  index->initIndex(std::make_unique<TableIterator>(&right.table), 0);
  auto joined = std::make_unique<Set>();
  joined->setRight(std::move(index));
  joined->setLeft(std::move(leftRows), 0);
  CombinedBooleanExpression clause(tree);
  joined->processRequest(conditions, clause);
  return joined;
}

// The stored rows of each pair in result order, told apart by where they
// keep their last (plain) column.
std::vector<std::pair<const void*, const void*>> pairedRows(JoinedSet& joined) {
  std::vector<std::pair<const void*, const void*>> rows;
  for (uint32_t row = 0; row < joined.rowCount; ++row) {
    joined.setRow(row);
    rows.emplace_back(joined.getPointerPath(2), joined.getPointerPath(4));
  }
  return rows;
}

// Parameters: left key categorised, right key categorised.
class JoinedSetTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {
 protected:
  bool leftCategorised() const { return std::get<0>(GetParam()); }
  bool rightCategorised() const { return std::get<1>(GetParam()); }
};

}  // namespace

// Narrowed sides, hash lookups over either side and pairs decided by side
// or pair by pair must keep exactly the pairs, in the order, of the
// pair-by-pair walk: with many left rows or many right rows, keys from a
// few values or mostly without a partner.
TEST_P(JoinedSetTest, MemoisedFilteringKeepsThePairsOfThePairWalk) {
  std::mt19937 random(3);
  for (int trial = 0; trial < 120; ++trial) {
    const bool manyRight = trial % 2 == 1;
    const unsigned keys = trial % 4 >= 2 ? 100 : 1;
    std::vector<std::pair<int, std::string>> leftRows;
    std::vector<std::pair<int, std::string>> rightRows;
    for (int i = 0; i < (manyRight ? 20 : 300); ++i) {
      leftRows.emplace_back(random() % (10 * keys), "l" + std::to_string(random() % 7));
    }
    for (int i = 0; i < (manyRight ? 300 : 20); ++i) {
      rightRows.emplace_back(random() % (13 * keys), "r" + std::to_string(random() % 5));
    }
    auto left = keyedTable(true, leftCategorised(), leftRows);
    auto right = keyedTable(false, rightCategorised(), rightRows);
    std::vector<std::unique_ptr<Condition>> owned;
    std::vector<Condition*> conditions;
    const std::vector<ClauseNode> tree = randomClause(random, 2);
    for (size_t k = 0; k < leavesOf(tree); ++k) {
      // Joined columns 0-2 are the left table's, 3-4 the right table's.
      const auto column = static_cast<unsigned short>(trial % 3 == 0 ? 3 + random() % 2 : random() % 5);
      const auto type = static_cast<ConditionType>(random() % 6);
      if (column < 3) {
        const std::string value = column == 1 ? "l" + std::to_string(random() % 7) : std::to_string(random() % 12);
        owned.push_back(createCondition(left->table, column, type, value));
      } else {
        const std::string value = column == 4 ? "r" + std::to_string(random() % 5) : std::to_string(random() % 13);
        owned.push_back(createCondition(right->table, static_cast<unsigned short>(column - 3), type,
                                                          value));
      }
      owned.back()->column = column;
      conditions.push_back(owned.back().get());
    }
    auto fast = join(*left, *right, conditions, tree);
    auto slow = join<RowByRowJoinedSet>(*left, *right, conditions, tree);
    ASSERT_EQ(fast->rowCount, slow->rowCount) << "trial " << trial;
    EXPECT_EQ(pairedRows(*fast), pairedRows(*slow)) << "trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndCategorisedKeys, JoinedSetTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

