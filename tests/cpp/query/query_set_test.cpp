#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "fake_result_set.h"
#include "query/field_comparator.h"
#include "query/query_set.h"
#include "storage/buffer.h"

namespace {

// A cursor over the given rows, all stored, columns 0..3 selected.
QuerySet cursorOver(std::vector<FakeRow> rows, std::vector<FieldComparatorBase*> sortKeys = {}) {
  auto result = std::make_unique<FakeResultSet>(std::move(rows),
                                                std::vector<unsigned short>{0, 1, 2, 3});
  std::vector<Condition*> none;
  result->processRequest(none);
  result->sort(sortKeys);
  return QuerySet(std::move(result));
}

std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DatabaseException& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace

TEST(QuerySetTest, EmptyCursorAnswersZeroAndRefusesReads) {
  QuerySet cursor;
  EXPECT_TRUE(cursor.empty());
  EXPECT_EQ(0U, cursor.getNumberOfRows());
  EXPECT_EQ(0, cursor.getNumberOfCols());
  EXPECT_THROW(cursor.setRow(0), DatabaseException);
  EXPECT_THROW(cursor.getString(0), DatabaseException);
  EXPECT_THROW(cursor.getLong(0), DatabaseException);
  EXPECT_THROW(cursor.getDouble(0), DatabaseException);
}

TEST(QuerySetTest, ResultWithoutRowsKeepsItsColumns) {
  QuerySet cursor = cursorOver({});
  EXPECT_FALSE(cursor.empty());
  EXPECT_EQ(0U, cursor.getNumberOfRows());
  EXPECT_EQ(4, cursor.getNumberOfCols());
  EXPECT_THROW(cursor.getString(0), DatabaseException);
  EXPECT_EQ("Row 0 is out of range: the result has 0 rows", messageOf([&] { cursor.setRow(0); }));
}

TEST(QuerySetTest, IndicesOutOfRangeThrow) {
  QuerySet cursor = cursorOver({{1, 1.0, "a", true}});
  EXPECT_EQ("Row 1 is out of range: the result has 1 rows", messageOf([&] { cursor.setRow(1); }));
  EXPECT_EQ("Column 4 is out of range: the result has 4 columns",
            messageOf([&] { cursor.getString(4); }));
  EXPECT_EQ("a", cursor.getString(2));
}

TEST(QuerySetTest, NumericConversions) {
  QuerySet cursor = cursorOver({{-7, 2.9, "x", true}, {70000, -2.9, "y", false}});
  EXPECT_EQ(-7, cursor.getLong(0));
  EXPECT_EQ(-7, cursor.getInt(0));
  EXPECT_DOUBLE_EQ(-7.0, cursor.getDouble(0));
  EXPECT_EQ(2, cursor.getLong(1));
  EXPECT_EQ(2, cursor.getInt(1));
  EXPECT_FLOAT_EQ(2.9F, cursor.getFloat(1));
  cursor.setRow(1);
  EXPECT_EQ(-2, cursor.getLong(1));
  EXPECT_EQ(-2, cursor.getInt(1));
  EXPECT_EQ(70000, cursor.getLong(0));
  EXPECT_FLOAT_EQ(70000.0F, cursor.getFloat(0));
}

TEST(QuerySetTest, NonNumericColumnsNameTheGetter) {
  QuerySet cursor = cursorOver({{1, 1.0, "x", true}});
  EXPECT_EQ("Unable to convert column 2 to long. Incompatible data type.",
            messageOf([&] { cursor.getLong(2); }));
  EXPECT_EQ("Unable to convert column 3 to int. Incompatible data type.",
            messageOf([&] { cursor.getInt(3); }));
  EXPECT_EQ("Unable to convert column 2 to double. Incompatible data type.",
            messageOf([&] { cursor.getDouble(2); }));
  EXPECT_EQ("Unable to convert column 3 to float. Incompatible data type.",
            messageOf([&] { cursor.getFloat(3); }));
}

TEST(QuerySetTest, UnrepresentableDoublesThrowInsteadOfOverflowing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  QuerySet cursor = cursorOver({{0, nan, "", false}, {0, 1e300, "", false}});
  EXPECT_EQ("Unable to convert column 1 to long. Value out of range.",
            messageOf([&] { cursor.getLong(1); }));
  EXPECT_TRUE(std::isnan(cursor.getDouble(1)));
  cursor.setRow(1);
  EXPECT_THROW(cursor.getInt(1), DatabaseException);
  EXPECT_TRUE(std::isinf(cursor.getFloat(1)));
}

TEST(QuerySetTest, SortedCursorStartsOnTheFirstSortedRow) {
  FieldComparator<int32_t> byNumber(0, false);
  QuerySet cursor = cursorOver({{3, 0, "c", false}, {1, 0, "a", false}, {2, 0, "b", false}},
                               {&byNumber});
  EXPECT_EQ("a", cursor.getString(2));
  cursor.setRow(2);
  EXPECT_EQ("c", cursor.getString(2));
}

TEST(QuerySetTest, CopiesShareTheCurrentRow) {
  QuerySet cursor = cursorOver({{1, 0, "a", false}, {2, 0, "b", false}});
  QuerySet copy = cursor;
  copy.setRow(1);
  EXPECT_EQ("b", cursor.getString(2));
  EXPECT_EQ(2, cursor.getLong(0));
}

TEST(QuerySetTest, ChangedTableInvalidatesEveryRowRead) {
  auto result = std::make_unique<FakeResultSet>(std::vector<FakeRow>{{1, 0, "a", false}},
                                                std::vector<unsigned short>{0});
  std::vector<Condition*> none;
  result->processRequest(none);
  auto counter = std::make_shared<uint64_t>(0);
  result->watchTable("t", counter);
  QuerySet cursor(std::move(result));
  EXPECT_EQ(1, cursor.getLong(0));
  ++*counter;
  const std::string message = "Query result is no longer valid: table t has changed";
  EXPECT_EQ(message, messageOf([&] { cursor.setRow(0); }));
  EXPECT_EQ(message, messageOf([&] { cursor.getString(0); }));
  EXPECT_EQ(message, messageOf([&] { cursor.getLong(0); }));
  EXPECT_EQ(message, messageOf([&] { cursor.getDouble(0); }));
  EXPECT_EQ(1U, cursor.getNumberOfRows());
}

TEST(QuerySetTest, ColumnTypesFollowTheSelection) {
  QuerySet cursor = cursorOver({});
  EXPECT_EQ(INT, cursor.getColumnType(0));
  EXPECT_EQ(BOOL, cursor.getColumnType(3));
  EXPECT_EQ("Column 4 is out of range: the result has 4 columns",
            messageOf([&] { cursor.getColumnType(4); }));
  EXPECT_EQ("The cursor holds no query result",
            messageOf([] { QuerySet().getColumnType(0); }));
}

TEST(QuerySetTest, BulkReadsFollowResultOrderAndKeepTheCurrentRow) {
  FieldComparator<int32_t> byNumber(0, true);
  QuerySet cursor = cursorOver({{1, 0, "a", false}, {3, 0, "c", false}, {2, 0, "b", false}},
                               {&byNumber});
  cursor.setRow(1);
  std::string seen;
  cursor.readRows(0, 3, [&](const QuerySet::Row& row) {
    seen += static_cast<const char*>(row.value(2));
    seen += row.text(0);
  });
  EXPECT_EQ("c3b2a1", seen);
  EXPECT_EQ("b", cursor.getString(2));

  // A visitor that fails part-way leaves the cursor where it was, too.
  EXPECT_THROW(cursor.readRows(2, 3, [](const QuerySet::Row&) { throw DatabaseException("x"); }),
               DatabaseException);
  EXPECT_EQ("b", cursor.getString(2));

  Buffer csv;
  cursor.populateCSV(csv);
  EXPECT_STREQ("\n3,0.000000,c,0\n2,0.000000,b,0\n1,0.000000,a,0", csv.start());
  EXPECT_EQ("b", cursor.getString(2));
}

TEST(QuerySetTest, BulkReadsCheckTheRangeAndTheTablesOnce) {
  auto result = std::make_unique<FakeResultSet>(
      std::vector<FakeRow>{{1, 0, "a", false}, {2, 0, "b", false}},
      std::vector<unsigned short>{0});
  std::vector<Condition*> none;
  result->processRequest(none);
  auto counter = std::make_shared<uint64_t>(0);
  result->watchTable("t", counter);
  QuerySet cursor(std::move(result));
  int visits = 0;
  const auto count = [&](const QuerySet::Row&) { ++visits; };
  cursor.readRows(2, 2, count);
  EXPECT_EQ(0, visits);
  EXPECT_EQ("Rows 1 to 3 are out of range: the result has 2 rows",
            messageOf([&] { cursor.readRows(1, 3, count); }));
  EXPECT_EQ("Rows 2 to 1 are out of range: the result has 2 rows",
            messageOf([&] { cursor.readRows(2, 1, count); }));
  ++*counter;
  const std::string message = "Query result is no longer valid: table t has changed";
  EXPECT_EQ(message, messageOf([&] { cursor.readRows(0, 2, count); }));
  EXPECT_EQ(message, messageOf([&] { cursor.getColumnType(0); }));
  Buffer csv;
  EXPECT_EQ(message, messageOf([&] { cursor.populateCSV(csv); }));
  EXPECT_EQ(0, visits);
  EXPECT_EQ("The cursor holds no query result",
            messageOf([&] { QuerySet().readRows(0, 0, count); }));
}
