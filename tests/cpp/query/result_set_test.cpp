#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "fake_result_set.h"
#include "query/field_comparator.h"
#include "query/simple_condition.h"
#include "query/string_comparator.h"
#include "storage/buffer.h"

namespace {

std::vector<FakeRow> sampleRows() {
  return {{3, 2.5, "c", true}, {1, -1.0, "a,b", false}, {2, 2.5, "b", true}, {1, 7.0, "d", false}};
}

std::string csv(ResultSet& result) {
  Buffer out;
  result.populateCSV(out);
  EXPECT_GT(out.used(), 0U);
  EXPECT_EQ('\0', out.start()[out.used() - 1]);
  return std::string(out.start(), out.used() - 1);
}

void fillAll(ResultSet& result) {
  std::vector<Condition*> none;
  result.processRequest(none);
}

// Stored rows in result order, read back through column 0.
std::vector<int32_t> numbersInOrder(ResultSet& result) {
  std::vector<int32_t> numbers;
  for (uint32_t i = 0; i < result.rowCount; ++i) {
    result.setRowDerived(result.storedRow(i));
    numbers.push_back(*static_cast<int32_t*>(result.getPointer(0)));
  }
  return numbers;
}

}  // namespace

TEST(ResultSetTest, HeaderJoinsTheSelectedNames) {
  FakeResultSet result(sampleRows(), {0, 2});
  result.header = std::string("a\0b\0", 4);
  EXPECT_EQ("a, b", result.getHeader(", "));
  EXPECT_EQ("a,b", result.getHeader(","));
  FakeResultSet none(sampleRows(), {});
  EXPECT_EQ("", none.getHeader(", "));
}

TEST(ResultSetTest, ProcessRequestKeepsMatchingRowsInSourceOrder) {
  FakeResultSet result(sampleRows(), {0});
  char* one = new char[4];
  const int32_t value = 1;
  std::memcpy(one, &value, 4);
  SimpleCondition isOne(NE, one, 4);
  isOne.column = 0;
  std::vector<Condition*> conditions{&isOne};
  result.processRequest(conditions);
  EXPECT_EQ(2U, result.rowCount);
  EXPECT_EQ((std::vector<int32_t>{3, 2}), numbersInOrder(result));
}

TEST(ResultSetTest, CsvOfNoRowsIsTheHeaderLine) {
  FakeResultSet result(sampleRows(), {0, 2});
  result.header = std::string("n\0t\0", 4);
  EXPECT_EQ("n,t\n", csv(result));
}

TEST(ResultSetTest, CsvQuotesValuesWithCommasAndEndsWithoutLineFeed) {
  FakeResultSet result(sampleRows(), {0, 1, 2, 3});
  result.header = std::string("n\0r\0t\0f\0", 8);
  fillAll(result);
  EXPECT_EQ(
      "n,r,t,f\n"
      "3,2.500000,c,1\n"
      "1,-1.000000,\"a,b\",0\n"
      "2,2.500000,b,1\n"
      "1,7.000000,d,0",
      csv(result));
  EXPECT_EQ(3U, result.currentRow);
}

TEST(ResultSetTest, CsvOverwritesEarlierContent) {
  FakeResultSet result(sampleRows(), {2});
  result.header = std::string("t\0", 2);
  fillAll(result);
  Buffer out;
  out.write("garbage that is longer than the result", 38);
  result.populateCSV(out);
  EXPECT_EQ(std::string("t\nc\n\"a,b\"\nb\nd\0", 14), std::string(out.start(), out.used()));
}

TEST(ResultSetTest, SortWithoutComparatorsKeepsStoredOrder) {
  FakeResultSet result(sampleRows(), {0});
  fillAll(result);
  std::vector<FieldComparatorBase*> none;
  result.sort(none);
  EXPECT_FALSE(result.hasPermutation());
  EXPECT_EQ((std::vector<int32_t>{3, 1, 2, 1}), numbersInOrder(result));
}

TEST(ResultSetTest, SortsByKeysInOrderWithDescending) {
  FakeResultSet result(sampleRows(), {0});
  fillAll(result);
  FieldComparator<int32_t> byNumberDesc(0, true);
  std::vector<FieldComparatorBase*> comparators{&byNumberDesc};
  result.sort(comparators);
  EXPECT_EQ((std::vector<int32_t>{3, 2, 1, 1}), numbersInOrder(result));

  // Real ascending, then number descending decides between the two 2.5s.
  FieldComparator<double> byReal(1, false);
  std::vector<FieldComparatorBase*> twoKeys{&byReal, &byNumberDesc};
  result.sort(twoKeys);
  EXPECT_EQ((std::vector<int32_t>{1, 3, 2, 1}), numbersInOrder(result));

  StringComparator byTextDesc(2, true);
  std::vector<FieldComparatorBase*> text{&byTextDesc};
  result.sort(text);
  EXPECT_EQ((std::vector<int32_t>{1, 3, 2, 1}), numbersInOrder(result));
  result.setRowDerived(result.storedRow(0));
  EXPECT_EQ("d", result.getString(2));
}

TEST(ResultSetTest, EqualKeysKeepStoredOrder) {
  std::vector<FakeRow> rows;
  for (int32_t i = 0; i < 200; ++i) {
    rows.push_back({i, static_cast<double>(i % 3), "x", false});
  }
  FakeResultSet result(rows, {0});
  fillAll(result);
  FieldComparator<double> byReal(1, false);
  std::vector<FieldComparatorBase*> comparators{&byReal};
  result.sort(comparators);
  const std::vector<int32_t> numbers = numbersInOrder(result);
  for (size_t i = 1; i < numbers.size(); ++i) {
    const bool sameKey = numbers[i - 1] % 3 == numbers[i] % 3;
    EXPECT_TRUE(numbers[i - 1] % 3 < numbers[i] % 3 || (sameKey && numbers[i - 1] < numbers[i]));
  }
}

TEST(ResultSetTest, NanKeysSortLast) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<FakeRow> rows{{0, nan, "", false}, {1, 3.0, "", false}, {2, nan, "", false},
                            {3, -1.0, "", false}};
  FakeResultSet result(rows, {0});
  fillAll(result);
  FieldComparator<double> byReal(1, false);
  std::vector<FieldComparatorBase*> comparators{&byReal};
  result.sort(comparators);
  EXPECT_EQ((std::vector<int32_t>{3, 1, 0, 2}), numbersInOrder(result));
  FieldComparator<double> byRealDesc(1, true);
  std::vector<FieldComparatorBase*> descending{&byRealDesc};
  result.sort(descending);
  EXPECT_EQ((std::vector<int32_t>{0, 2, 1, 3}), numbersInOrder(result));
}

TEST(ResultSetTest, WatchedTableChangeInvalidates) {
  FakeResultSet result(sampleRows(), {0});
  auto counter = std::make_shared<uint64_t>(4);
  result.watchTable("facts", counter);
  EXPECT_NO_THROW(result.checkValid());
  ++*counter;
  try {
    result.checkValid();
    FAIL() << "no exception";
  } catch (const DatabaseException& e) {
    EXPECT_STREQ("Query result is no longer valid: table facts has changed", e.what());
  }
}

// Sorting by integer order keys must give exactly the order of the
// comparators with stored order deciding ties, descending keys, NaN and
// both zeros included.
TEST(ResultSetTest, KeyedSortMatchesAStableSortByTheComparators) {
  std::mt19937 random(9);
  const double reals[] = {std::numeric_limits<double>::quiet_NaN(), -0.0, 0.0, 1.5, -1.5, 1e300};
  std::vector<FakeRow> rows;
  for (int32_t i = 0; i < 500; ++i) rows.push_back({static_cast<int32_t>(random() % 7) - 3, reals[random() % 6], "", false});
  FakeResultSet result(rows, {0});
  fillAll(result);
  FieldComparator<double> byRealDesc(1, true);
  FieldComparator<int32_t> byNumber(0, false);
  for (const std::vector<FieldComparatorBase*>& keys :
       {std::vector<FieldComparatorBase*>{&byRealDesc}, std::vector<FieldComparatorBase*>{&byRealDesc, &byNumber}}) {
    result.sort(const_cast<std::vector<FieldComparatorBase*>&>(keys));
    std::vector<uint32_t> expected(rows.size());
    for (uint32_t i = 0; i < expected.size(); ++i) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
      for (const FieldComparatorBase* key : keys) {
        const void* valueA = key->column == 0 ? static_cast<const void*>(&rows[a].number) : &rows[a].real;
        const void* valueB = key->column == 0 ? static_cast<const void*>(&rows[b].number) : &rows[b].real;
        const int c = key->compare(valueA, valueB);
        if (c != 0) return key->descending ? c > 0 : c < 0;
      }
      return false;
    });
    EXPECT_EQ(result.permutation, expected);
  }
}
