// How conditions on categorised and plain columns translate is checked end
// to end by the Python differential tests over every operator and constant;
// this case covers the join type check.

#include <gtest/gtest.h>

#include "../test_support.h"
#include "catalogue/database.h"
#include "planner/result_set_factory.h"

// The type check compares the main table's key column with the joined
// table's, though both are named alike.
TEST(JoinFactoryTest, JoinColumnsOfDifferentTypesAreRefused) {
  Database database;
  database.tableInit("a", {{"x", NO_CATEGORY, INT}, {"k", NO_CATEGORY, INT}});
  database.tableInit("b", {{"y", NO_CATEGORY, INT}, {"k", 1, LONG}});
  BoundSelect statement;
  statement.join = BoundJoin{TableCol{0, 1}, TableCol{1, 1}};
  EXPECT_EQ("Join columns k and k have different types",
            test_support::messageOf([&] { ResultSetFactory(database).build(std::move(statement)); }));
}
