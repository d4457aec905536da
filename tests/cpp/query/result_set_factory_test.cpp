#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../test_support.h"
#include "catalogue/database.h"
#include "query/condition.h"
#include "query/result_set_factory.h"
#include "query/table_set.h"

namespace {

using test_support::TestTable;

const ConditionType kOperators[] = {EQ, NE, LT, GT, LE, GE};

// Rows of `table` matching `column op constant`.
uint32_t countMatches(TestTable& table, ConditionType op, const std::string& constant) {
  std::unique_ptr<Condition> condition = ResultSetFactory::createCondition(table.table, 0, op, constant);
  condition->column = 0;
  TableSet set(std::make_unique<TableIterator>(&table.table), {0});
  std::vector<Condition*> conditions{condition.get()};
  set.processRequest(conditions);
  return set.rowCount;
}

bool holds(int difference, ConditionType op) {
  switch (op) {
    case EQ:
      return difference == 0;
    case NE:
      return difference != 0;
    case LT:
      return difference < 0;
    case GT:
      return difference > 0;
    case LE:
      return difference <= 0;
    default:
      return difference >= 0;
  }
}

// -1, 0 or 1 as a is below, equal to or above b; 2 when unordered (NaN),
// which holds for != only.
int ieeeOrder(double a, double b) { return a < b ? -1 : a > b ? 1 : a == b ? 0 : 2; }

struct TranslationCase {
  DATA_TYPE type;
  std::vector<std::string> values;
  std::vector<std::string> constants;
  std::function<int(const std::string&, const std::string&)> order;
};

}  // namespace

// A condition on a categorised column is translated into category numbers
// (absent constants become bounds between neighbours); it must keep the
// rows the condition on the plain column keeps, and both the rows IEEE
// comparison or byte order gives: NaN matches only !=, -0.0 equals 0.0.
TEST(ConditionTranslationTest, CategorisedAndPlainColumnsGiveTheTrueAnswer) {
  const auto number = [](const std::string& a, const std::string& b) {
    return ieeeOrder(std::strtod(a.c_str(), nullptr), std::strtod(b.c_str(), nullptr));
  };
  const auto text = [](const std::string& a, const std::string& b) {
    const int d = std::strcmp(a.c_str(), b.c_str());
    return d < 0 ? -1 : d > 0 ? 1 : 0;
  };
  const std::vector<TranslationCase> cases = {
      {INT, {"10", "20", "30", "20"}, {"5", "20", "25", "35"}, number},
      {DOUBLE, {"-1", "-0.0", "0", "2.5", "nan", "2.5", "1e300"}, {"nan", "0", "-0", "2.5", "1", "-100", "1e301"}, number},
      {STRING, {"", "a", "ab", "abc", "b", "\xc3\xa9", "ab"}, {"", "a", "aa", "ab", "abd", "z", "\xc3\xa9"}, text},
  };
  for (const TranslationCase& c : cases) {
    TestTable categorised({c.type}, {0});
    TestTable plain({c.type}, {});
    for (const std::string& value : c.values) {
      categorised.addRow({value});
      plain.addRow({value});
    }
    for (const std::string& constant : c.constants) {
      for (const ConditionType op : kOperators) {
        uint32_t expected = 0;
        for (const std::string& value : c.values) {
          const int order = c.order(value, constant);
          expected += order == 2 ? op == NE : holds(order, op);
        }
        EXPECT_EQ(expected, countMatches(plain, op, constant)) << c.type << " " << op << " '" << constant << "'";
        EXPECT_EQ(expected, countMatches(categorised, op, constant)) << c.type << " " << op << " '" << constant << "'";
      }
    }
  }
}

// The type check compares the main table's key column with the joined
// table's, though both are named alike.
TEST(JoinFactoryTest, JoinColumnsOfDifferentTypesAreRefused) {
  Database database;
  database.tableInit("a", {{"x", NO_CATEGORY, INT}, {"k", NO_CATEGORY, INT}});
  database.tableInit("b", {{"y", NO_CATEGORY, INT}, {"k", 1, LONG}});
  ResultSetFactory factory(database);
  factory.mainTable = 0;
  factory.joins.emplace_back(TableCol{0, 1}, TableCol{1, 1});
  EXPECT_EQ("Join columns k and k have different types", test_support::messageOf([&] { factory.createResultSet(); }));
}
