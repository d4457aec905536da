// The lookup rules of SELECT names: which table and side each name reaches,
// with and without a qualifier, the numbering of a result's columns, the
// stored types, and the message of every name that means nothing.

#include "planner/select_binder.h"

#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"
#include "catalogue/database.h"
#include "parser/select_parser.h"
#include "parserengine/tokenizer.h"
#include "storage/buffer.h"

namespace {

// fact is table 0, dim table 1; both have a column k, and dim's k is the
// second of its columns, so a reach of the wrong table shows.
class SelectBinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_.tableInit("fact", {{"k", NO_CATEGORY, INT}, {"x", NO_CATEGORY, LONG}, {"s", 1, STRING}});
    database_.tableInit("dim", {{"city", NO_CATEGORY, STRING}, {"k", NO_CATEGORY, INT}, {"y", NO_CATEGORY, DOUBLE}});
  }

  BoundSelect bind(const std::string& query) {
    Buffer buffer;
    TokenList tokens;
    copyCommandToBuffer(buffer, query.c_str());
    populateTokens(buffer, tokens);
    grammar_.runWhole(tokens);
    return SelectBinder(database_).bind(grammar_.statement());
  }

  Database database_;
  SelectParser grammar_;
};

// A bound column as table.column, "+" for the joined side, then its number
// in the result and its stored type.
std::string describe(const BoundColumn& column) {
  return std::to_string(column.column.table) + "." + std::to_string(column.column.column) +
         (column.joinedSide ? "+" : "") + ">" + std::to_string(column.resultColumn) + " " +
         getTypeKeyword(column.type);
}

// The select list, the conditions and the sort keys, " | " between parts.
std::string describe(const BoundSelect& bound) {
  std::string text;
  for (const BoundColumn& column : bound.selected) text += describe(column) + ", ";
  text += "| ";
  for (const BoundCondition& condition : bound.conditions) text += describe(condition.column) + ", ";
  text += "| ";
  for (const BoundSortKey& key : bound.sortKeys) text += describe(key.column) + (key.descending ? " desc, " : ", ");
  return text;
}

struct Binding {
  const char* query;
  const char* bound;
};

TEST_F(SelectBinderTest, NamesReachTheirColumns) {
  const Binding cases[] = {
      {"select k, s from fact where x = 1 order by k desc", "0.0>0 int, 0.2>2 string, | 0.1>1 long, | 0.0>0 int desc, "},
      {"select * from dim", "1.0>0 string, 1.1>1 int, 1.2>2 double, | | "},
      // In a join the main table wins a name both have; the joined side's
      // columns come after the main table's in the result.
      {"select k, city from fact join dim on k = k where y > 1 order by city",
       "0.0>0 int, 1.0+>3 string, | 1.2+>5 double, | 1.0+>3 string, "},
      {"select * from fact join dim on k = k",
       "0.0>0 int, 0.1>1 long, 0.2>2 string, 1.0+>3 string, 1.1+>4 int, 1.2+>5 double, | | "},
      // A qualifier reaches the joined table's column of a shared name.
      {"select fact.k, dim.k from fact join dim on fact.k = dim.k where dim.k = 1 order by dim.k",
       "0.0>0 int, 1.1+>4 int, | 1.1+>4 int, | 1.1+>4 int, "},
      {"select fact.x from fact where fact.s = a", "0.1>1 long, | 0.2>2 string, | "},
      // Written the other way round, the join's columns still pair up.
      {"select x from fact join dim on dim.k = fact.k", "0.1>1 long, | | "},
      // A table joined with itself: named columns are the main side's, a
      // star lists both sides.
      {"select k from dim join dim on k = k where dim.y = 1", "1.1>1 int, | 1.2>2 double, | "},
      {"select * from dim join dim on k = k",
       "1.0>0 string, 1.1>1 int, 1.2>2 double, 1.0+>3 string, 1.1+>4 int, 1.2+>5 double, | | "},
  };
  for (const Binding& binding : cases) {
    EXPECT_EQ(describe(bind(binding.query)), binding.bound) << binding.query;
  }
}

TEST_F(SelectBinderTest, JoinColumnsPairMainWithJoined) {
  for (const char* query : {"select x from fact join dim on k = k", "select x from fact join dim on dim.k = fact.k",
                            "select x from fact join dim on fact.k = dim.k", "select x from fact join dim on dim.k = k"}) {
    const BoundSelect bound = bind(query);
    ASSERT_TRUE(bound.join.has_value()) << query;
    EXPECT_EQ(bound.join->mainColumn, (TableCol{0, 0})) << query;
    EXPECT_EQ(bound.join->joinedColumn, (TableCol{1, 1})) << query;
  }
}

struct Refusal {
  const char* query;
  const char* message;
};

TEST_F(SelectBinderTest, NamesThatMeanNothingAreRefused) {
  const Refusal cases[] = {
      {"select k from nope", "Table nope is not defined"},
      {"select k from ''", "Empty table name in the select query"},
      {"select q from fact", "Column q is not defined for table fact"},
      {"select k from fact where q = 1", "Column q is not defined for table fact"},
      {"select k from fact order by q", "Column q is not defined for table fact"},
      {"select city from fact", "Column city is not defined for table fact"},
      {"select fact.q from fact", "Column q is not defined for table fact"},
      {"select dim.k from fact", "Column dim.k is not defined for table fact"},
      {"select nope.k from fact", "Column nope.k is not defined for table fact"},
      {"select k from fact join nope on k = k", "Table nope is not defined"},
      {"select k from fact join dim on k = k join dim on k = k", "Only 1 join condition allowed"},
      {"select k from fact join dim on k = q", "Column q is not defined"},
      {"select k from fact join dim on q = k", "Column q is not defined"},
      {"select k from fact join dim on x = x", "Column x is not defined"},
      {"select k from fact join dim on fact.q = dim.k", "Column q is not defined"},
      {"select q from fact join dim on k = k", "Column q is not defined"},
      {"select dim.x from fact join dim on k = k", "Column x is not defined"},
      {"select nope.k from fact join dim on k = k", "Column nope.k is not defined"},
      {"select k from fact join dim on k = k where q = 1", "Column q is not defined"},
      {"select k from fact join dim on k = k order by dim.q", "Column q is not defined"},
      // Faults come in written order: the unknown table before the column,
      // the join before the select list, each condition's name before its
      // operator, constant and brackets, and those before later names.
      {"select q from nope join dim on k = k", "Table nope is not defined"},
      {"select q from fact join nope on q = q", "Table nope is not defined"},
      {"select q from fact join dim on z = k", "Column z is not defined"},
      {"select k from fact where q like 1", "Column q is not defined for table fact"},
      {"select k from fact where k like 1 and q = 1", "Unsupported select condition operator like"},
      {"select k from fact where k is 1", "Unsupported condition k is 1: only null can follow is or is not"},
      {"select k from fact where k = 1) and q = 1",
       "Missing '(' in the where clause: a ')' after k = 1 closes no bracket"},
      {"select k from fact where q = 1)", "Column q is not defined for table fact"},
      {"select k from fact where (k = 1 and q = 1", "Column q is not defined for table fact"},
      {"select k from fact where (k = 1 or (x = 2)", "Missing ')' in the where clause: 1 bracket(s) opened and not closed"},
      {"select k from fact where (k = 1 order by q", "Missing ')' in the where clause: 1 bracket(s) opened and not closed"},
  };
  for (const Refusal& refusal : cases) {
    EXPECT_EQ(test_support::messageOf([&] { bind(refusal.query); }), refusal.message) << refusal.query;
  }
}

}  // namespace
