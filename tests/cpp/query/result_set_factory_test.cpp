#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "query/compare_condition.h"
#include "query/joined_set.h"
#include "query/condition.h"
#include "query/result_set_factory.h"
#include "query/simple_condition.h"
#include "query/table_set.h"
#include "test_table.h"

namespace {

const ConditionType kOperators[] = {EQ, NE, LT, GT, LE, GE};

// Rows of `table` matching `column op constant`.
uint32_t countMatches(TestTable& table, unsigned short column, ConditionType op,
                      const std::string& constant) {
  std::unique_ptr<Condition> condition =
      ResultSetFactory::createCondition(table.table, column, op, constant);
  condition->column = column;
  TableSet set(std::make_unique<TableIterator>(&table.table), {column});
  std::vector<Condition*> conditions{condition.get()};
  set.processRequest(conditions);
  return set.rowCount;
}

template <typename T>
bool holds(T v, ConditionType op, T c) {
  switch (op) {
    case EQ:
      return v == c;
    case NE:
      return v != c;
    case LT:
      return v < c;
    case GT:
      return v > c;
    case LE:
      return v <= c;
    default:
      return v >= c;
  }
}

unsigned short numberOf(TestTable& table, int value) {
  return table.table.columnMaps.at(0)->getInt(&value);
}

class CategoryTranslationTest : public ::testing::Test {
 protected:
  CategoryTranslationTest() : categorised_({INT}, {0}), plain_({INT}, {}) {
    for (int value : {10, 20, 30, 20}) {
      categorised_.addRow({std::to_string(value)});
      plain_.addRow({std::to_string(value)});
    }
  }

  TestTable categorised_;
  TestTable plain_;
};

}  // namespace

TEST_F(CategoryTranslationTest, EveryOperatorAndConstantMatchesThePlainAnswer) {
  for (int constant : {5, 20, 25, 35}) {
    for (ConditionType op : kOperators) {
      uint32_t expected = 0;
      for (int value : {10, 20, 30, 20}) {
        expected += holds(value, op, constant) ? 1 : 0;
      }
      const std::string text = std::to_string(constant);
      EXPECT_EQ(expected, countMatches(categorised_, 0, op, text)) << op << " " << constant;
      EXPECT_EQ(expected, countMatches(plain_, 0, op, text)) << op << " " << constant;
    }
  }
}

TEST_F(CategoryTranslationTest, AbsentConstantsBecomeInclusiveBounds) {
  auto below25 = ResultSetFactory::createCondition(categorised_.table, 0, LT, "25");
  auto* lessEq = dynamic_cast<CompareCondition<unsigned short>*>(below25.get());
  ASSERT_NE(nullptr, lessEq);
  EXPECT_EQ(LE, lessEq->type);
  EXPECT_EQ(numberOf(categorised_, 20), lessEq->value);

  auto above25 = ResultSetFactory::createCondition(categorised_.table, 0, GT, "25");
  auto* greaterEq = dynamic_cast<CompareCondition<unsigned short>*>(above25.get());
  ASSERT_NE(nullptr, greaterEq);
  EXPECT_EQ(GE, greaterEq->type);
  EXPECT_EQ(numberOf(categorised_, 30), greaterEq->value);

  auto atMost20 = ResultSetFactory::createCondition(categorised_.table, 0, LE, "20");
  auto* present = dynamic_cast<CompareCondition<unsigned short>*>(atMost20.get());
  ASSERT_NE(nullptr, present);
  EXPECT_EQ(LE, present->type);
  EXPECT_EQ(numberOf(categorised_, 20), present->value);

  auto equals25 = ResultSetFactory::createCondition(categorised_.table, 0, EQ, "25");
  auto* simple = dynamic_cast<SimpleCondition*>(equals25.get());
  ASSERT_NE(nullptr, simple);
  EXPECT_EQ(2, simple->length());
  unsigned short number;
  std::memcpy(&number, simple->value(), sizeof number);
  EXPECT_EQ(0, number);
}

TEST(PlainConditionTest, ConditionKindFollowsTypeAndOperator) {
  TestTable t({STRING, INT}, {});
  auto text = ResultSetFactory::createCondition(t.table, 0, LT, "abc");
  auto* simpleText = dynamic_cast<SimpleCondition*>(text.get());
  ASSERT_NE(nullptr, simpleText);
  EXPECT_EQ(4, simpleText->length());
  EXPECT_NE(nullptr, dynamic_cast<CompareCondition<int>*>(
                         ResultSetFactory::createCondition(t.table, 1, GT, "3").get()));
  auto equal = ResultSetFactory::createCondition(t.table, 1, EQ, "3");
  auto* simpleInt = dynamic_cast<SimpleCondition*>(equal.get());
  ASSERT_NE(nullptr, simpleInt);
  EXPECT_EQ(4, simpleInt->length());
  EXPECT_THROW(ResultSetFactory::createCondition(t.table, 1, static_cast<ConditionType>(6), "3"),
               DatabaseException);
  EXPECT_THROW(ResultSetFactory::createCondition(t.table, 2, EQ, "3"), DatabaseException);
}

TEST(PlainConditionTest, BadBooleanConstantIsRefused) {
  TestTable t({BOOL}, {});
  EXPECT_THROW(ResultSetFactory::createCondition(t.table, 0, EQ, "maybe"), DatabaseException);
}

TEST(FloatingPointTranslationTest, PlainAndCategorisedAgreeWithIeee) {
  const std::vector<std::string> values{"-1", "-0.0", "0", "2.5", "nan", "2.5", "1e300"};
  TestTable categorised({DOUBLE}, {0});
  TestTable plain({DOUBLE}, {});
  for (const std::string& value : values) {
    categorised.addRow({value});
    plain.addRow({value});
  }
  for (const char* constant : {"nan", "0", "-0", "2.5", "1", "100", "-100", "1e301"}) {
    const double c = std::strtod(constant, nullptr);
    for (ConditionType op : kOperators) {
      uint32_t expected = 0;
      for (const std::string& value : values) {
        expected += holds(std::strtod(value.c_str(), nullptr), op, c) ? 1 : 0;
      }
      EXPECT_EQ(expected, countMatches(plain, 0, op, constant)) << op << " " << constant;
      EXPECT_EQ(expected, countMatches(categorised, 0, op, constant)) << op << " " << constant;
    }
  }
}

TEST(TextTranslationTest, PlainAndCategorisedAgree) {
  const std::vector<std::string> values{"", "a", "ab", "abc", "b", "\xc3\xa9", "ab"};
  TestTable categorised({STRING}, {0});
  TestTable plain({STRING}, {});
  for (const std::string& value : values) {
    categorised.addRow({value});
    plain.addRow({value});
  }
  for (const char* constant : {"", "a", "aa", "ab", "abd", "z", "\xc3\xa9"}) {
    for (ConditionType op : kOperators) {
      uint32_t expected = 0;
      for (const std::string& value : values) {
        const int d = std::strcmp(value.c_str(), constant);
        expected += holds(d, op, 0) ? 1 : 0;
      }
      EXPECT_EQ(expected, countMatches(plain, 0, op, constant)) << op << " '" << constant << "'";
      EXPECT_EQ(expected, countMatches(categorised, 0, op, constant))
          << op << " '" << constant << "'";
    }
  }
}

// Tables a (x int, k int, s string) and b (y int, k long); nothing loaded.
class JoinFactoryTest : public ::testing::Test {
 protected:
  JoinFactoryTest() : factory_(database_) {
    database_.tableInit("a", {{"x", NO_CATEGORY, INT}, {"k", NO_CATEGORY, INT},
                              {"s", NO_CATEGORY, STRING}});
    database_.tableInit("b", {{"y", NO_CATEGORY, INT}, {"k", 1, LONG}});
  }

  Database database_;
  ResultSetFactory factory_;
};

TEST_F(JoinFactoryTest, JoinedTableColumnsAreNumberedPastTheMainTable) {
  factory_.mainTable = 0;
  factory_.joins.emplace_back(TableCol{0, 0}, TableCol{1, 0});
  factory_.addCondition(TableCol{1, 0}, GT, "3", 0, NONE);
  factory_.addComparator(TableCol{1, 1}, true);
  factory_.addComparator(TableCol{0, 2}, false);
  EXPECT_EQ(3, factory_.getConditions()[0]->column);
  EXPECT_EQ(4, factory_.getComparators()[0]->column);
  EXPECT_EQ(2, factory_.getComparators()[1]->column);
  EXPECT_NE(nullptr, dynamic_cast<JoinedSet*>(factory_.createResultSet().get()));

  // The next query without a join reads one table.
  factory_.clear();
  factory_.selectCols.push_back(TableCol{0, 0});
  EXPECT_NE(nullptr, dynamic_cast<TableSet*>(factory_.createResultSet().get()));
}

TEST_F(JoinFactoryTest, JoinColumnsOfDifferentTypesAreRefused) {
  factory_.mainTable = 0;
  factory_.joins.emplace_back(TableCol{0, 1}, TableCol{1, 1});
  try {
    factory_.createResultSet();
    FAIL() << "no exception";
  } catch (const DatabaseException& e) {
    EXPECT_STREQ("Join columns k and k have different types", e.what());
  }
}
