// The cursor's getters, messages and invalidation are checked end to end
// from Python; these cases cover what Python cannot call: the int and float
// getters' own names, and bulk reads over a partial range or with a visitor
// that fails.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../test_support.h"
#include "fake_result_set.h"
#include "query/combined_boolean_expression.h"
#include "query/field_comparator.h"
#include "query/query_set.h"
#include "storage/buffer.h"

namespace {

using test_support::messageOf;

// A cursor over the given rows, all stored, columns 0..3 selected; the
// returned counter is the change counter of the table it watches.
QuerySet cursorOver(std::vector<FakeRow> rows, std::shared_ptr<uint64_t> counter,
                    std::vector<FieldComparatorBase*> sortKeys = {}) {
  auto result = std::make_unique<FakeResultSet>(std::move(rows), std::vector<unsigned short>{0, 1, 2, 3});
  std::vector<Condition*> none;
  CombinedBooleanExpression everyRow;
  result->processRequest(none, everyRow);
  result->sort(sortKeys);
  result->watchTable("t", std::move(counter));
  return QuerySet(std::move(result));
}

}  // namespace

TEST(QuerySetTest, NarrowGettersNameThemselvesAndRefuseUnrepresentableValues) {
  QuerySet cursor = cursorOver({{70000, 1e300, "x", true}}, std::make_shared<uint64_t>(0));
  EXPECT_EQ(70000, cursor.getInt(0));
  EXPECT_TRUE(std::isinf(cursor.getFloat(1)));
  EXPECT_EQ("Unable to convert column 1 to int. Value out of range.", messageOf([&] { cursor.getInt(1); }));
  EXPECT_EQ("Unable to convert column 3 to int. Incompatible data type.", messageOf([&] { cursor.getInt(3); }));
  EXPECT_EQ("Unable to convert column 2 to float. Incompatible data type.",
            messageOf([&] { cursor.getFloat(2); }));
}

TEST(QuerySetTest, BulkReadsFollowResultOrderKeepTheCurrentRowAndCheckOnce) {
  FieldComparator<int32_t> byNumber(0, true);
  auto counter = std::make_shared<uint64_t>(0);
  QuerySet cursor = cursorOver({{1, 0, "a", false}, {3, 0, "c", false}, {2, 0, "b", false}}, counter, {&byNumber});
  cursor.setRow(1);
  std::string seen;
  cursor.readRows(0, 3, [&](const QuerySet::Row& row) {
    seen += static_cast<const char*>(row.value(2));
    seen += row.text(0);
  });
  EXPECT_EQ("c3b2a1", seen);
  EXPECT_EQ("b", cursor.getString(2));

  // A visitor that fails part-way leaves the cursor where it was, too.
  EXPECT_THROW(cursor.readRows(2, 3, [](const QuerySet::Row&) { throw DatabaseException("x"); }), DatabaseException);
  EXPECT_EQ("b", cursor.getString(2));

  int visits = 0;
  const auto count = [&](const QuerySet::Row&) { ++visits; };
  cursor.readRows(3, 3, count);
  EXPECT_EQ("Rows 1 to 4 are out of range: the result has 3 rows", messageOf([&] { cursor.readRows(1, 4, count); }));
  EXPECT_EQ("Rows 2 to 1 are out of range: the result has 3 rows", messageOf([&] { cursor.readRows(2, 1, count); }));

  // Column reads: result order, a partial range, the same checks.
  std::vector<const void*> values(3);
  cursor.readColumn(2, 0, 3, values.data());
  EXPECT_STREQ("c", static_cast<const char*>(values[0]));
  EXPECT_STREQ("a", static_cast<const char*>(values[2]));
  cursor.readColumn(0, 1, 3, values.data());
  EXPECT_EQ(2, *static_cast<const int32_t*>(values[0]));
  EXPECT_EQ(1, *static_cast<const int32_t*>(values[1]));
  EXPECT_EQ("b", cursor.getString(2));
  EXPECT_EQ("Column 4 is out of range: the result has 4 columns",
            messageOf([&] { cursor.readColumn(4, 0, 1, values.data()); }));
  EXPECT_EQ("Rows 2 to 4 are out of range: the result has 3 rows",
            messageOf([&] { cursor.readColumn(0, 2, 4, values.data()); }));

  ++*counter;
  EXPECT_EQ("Query result is no longer valid: table t has changed", messageOf([&] { cursor.readRows(0, 2, count); }));
  EXPECT_EQ("Query result is no longer valid: table t has changed",
            messageOf([&] { cursor.readColumn(0, 0, 1, values.data()); }));
  EXPECT_EQ(0, visits);
  EXPECT_EQ("The cursor holds no query result", messageOf([&] { QuerySet().readRows(0, 0, count); }));
}
