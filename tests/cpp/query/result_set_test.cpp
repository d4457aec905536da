#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fake_result_set.h"
#include "query/combined_boolean_expression.h"
#include "query/field_comparator.h"
#include "query/string_comparator.h"
#include "storage/buffer.h"

namespace {

void fillAll(ResultSet& result) {
  std::vector<Condition*> none;
  CombinedBooleanExpression everyRow;
  result.processRequest(none, everyRow);
}

// The value of row `row` that `key` compares.
const void* keyValue(const FieldComparatorBase* key, FakeRow& row) {
  if (key->column == 0) return &row.number;
  if (key->column == 1) return &row.real;
  return row.text.c_str();
}

}  // namespace

TEST(ResultSetTest, CsvQuotesValuesWithCommasAndOverwritesTheBuffer) {
  FakeResultSet result({{3, 2.5, "c", true}, {1, -1.0, "a,b", false}}, {0, 1, 2, 3});
  result.header = std::string("n\0r\0t\0f\0", 8);
  fillAll(result);
  Buffer out;
  out.write("garbage that is longer than the result", 38);
  result.populateCSV(out);
  EXPECT_EQ(std::string("n,r,t,f\n3,2.5,c,1\n1,-1,\"a,b\",0\0", 31), std::string(out.start(), out.used()));
  EXPECT_EQ(1U, result.currentRow);
}

// Sorting by integer order keys, or by texts without them, must give exactly
// the order of the comparators with stored order deciding ties: descending
// keys, NaN and both zeros included.
TEST(ResultSetTest, SortMatchesAStableSortByTheComparators) {
  std::mt19937 random(9);
  const double reals[] = {std::numeric_limits<double>::quiet_NaN(), -0.0, 0.0, 1.5, -1.5, 1e300};
  const char* const texts[] = {"", "a", "ab", "b"};
  std::vector<FakeRow> rows;
  for (int32_t i = 0; i < 500; ++i) {
    rows.push_back({static_cast<int32_t>(random() % 7) - 3, reals[random() % 6], texts[random() % 4], false});
  }
  FakeResultSet result(rows, {0});
  fillAll(result);
  FieldComparator<double> byRealDesc(1, true);
  FieldComparator<int32_t> byNumber(0, false);
  StringComparator byTextDesc(2, true);
  for (std::vector<FieldComparatorBase*> keys :
       {std::vector<FieldComparatorBase*>{&byRealDesc}, std::vector<FieldComparatorBase*>{&byRealDesc, &byNumber},
        std::vector<FieldComparatorBase*>{&byTextDesc, &byNumber}}) {
    result.sort(keys);
    std::vector<uint32_t> expected(rows.size());
    for (uint32_t i = 0; i < expected.size(); ++i) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
      for (const FieldComparatorBase* key : keys) {
        const int c = key->compare(keyValue(key, rows[a]), keyValue(key, rows[b]));
        if (c != 0) return key->descending ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<uint32_t> sorted;
    for (uint32_t i = 0; i < result.rowCount; ++i) sorted.push_back(result.storedRow(i));
    EXPECT_EQ(sorted, expected);
  }
}
