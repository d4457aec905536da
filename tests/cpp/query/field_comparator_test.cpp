#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "errors/database_exception.h"
#include "query/field_comparator.h"
#include "query/string_comparator.h"
#include "storage/templated_class.h"

TEST(FieldComparatorTest, SignedAndUnsignedOrders) {
  const short minusOne = -1;
  const short one = 1;
  EXPECT_EQ(-1, FieldComparator<short>(0, false).compare(&minusOne, &one));
  const unsigned short high = 65535;
  const unsigned short low = 1;
  EXPECT_EQ(1, FieldComparator<unsigned short>(0, false).compare(&high, &low));
  EXPECT_EQ(0, FieldComparator<unsigned short>(0, false).compare(&low, &low));
  const bool no = false;
  const bool yes = true;
  EXPECT_EQ(-1, FieldComparator<bool>(0, false).compare(&no, &yes));
}

TEST(FieldComparatorTest, NanSortsLastAndEqualToItself) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double big = 1e300;
  FieldComparator<double> compare(0, false);
  EXPECT_EQ(1, compare.compare(&nan, &big));
  EXPECT_EQ(-1, compare.compare(&big, &nan));
  EXPECT_EQ(0, compare.compare(&nan, &nan));
  const double zero = 0.0;
  const double negativeZero = -0.0;
  EXPECT_EQ(0, compare.compare(&zero, &negativeZero));
  const float nanFloat = std::numeric_limits<float>::quiet_NaN();
  const float one = 1.0F;
  EXPECT_EQ(1, FieldComparator<float>(0, false).compare(&nanFloat, &one));
}

TEST(FieldComparatorTest, FactoryPicksTheStorageType) {
  std::unique_ptr<FieldComparatorBase> longs(static_cast<FieldComparatorBase*>(
      createTemplatedClass<FieldComparator, unsigned short, bool>(LONG, 3, true)));
  EXPECT_EQ(3, longs->column);
  EXPECT_TRUE(longs->descending);
  const long a = 5000000000L;
  const long b = 4000000000L;
  EXPECT_EQ(1, longs->compare(&a, &b));
  EXPECT_THROW((createTemplatedClass<FieldComparator, unsigned short, bool>(STRING, 0, false)),
               DatabaseException);
  EXPECT_THROW((createTemplatedClass<FieldComparator, unsigned short, bool>(
                   static_cast<DATA_TYPE>(0), 0, false)),
               DatabaseException);
}

TEST(StringComparatorTest, ComparesLikeStrcmp) {
  StringComparator compare(1, false);
  EXPECT_LT(compare.compare("ab", "abc"), 0);
  EXPECT_GT(compare.compare("b", "abc"), 0);
  EXPECT_EQ(0, compare.compare("", ""));
}
