#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

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

namespace {

// Every pair of values orders the same by orderKey as by compare().
template <typename T>
void expectKeysOrderLikeCompare(const std::vector<T>& values) {
  const FieldComparator<T> comparator(0, false);
  ASSERT_TRUE(comparator.hasOrderKey());
  for (const T& a : values) {
    for (const T& b : values) {
      const uint64_t keyA = comparator.orderKey(&a);
      const uint64_t keyB = comparator.orderKey(&b);
      const int byKey = keyA < keyB ? -1 : keyA > keyB ? 1 : 0;
      EXPECT_EQ(byKey, comparator.compare(&a, &b)) << +a << " vs " << +b;
    }
  }
}

}  // namespace

TEST(FieldComparatorTest, OrderKeysOrderLikeCompare) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  expectKeysOrderLikeCompare<double>({nan, -nan, inf, -inf, 0.0, -0.0, 1e-308, -1e-308, 2.5, -2.5,
                                      std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()});
  expectKeysOrderLikeCompare<float>({std::nanf(""), -0.0f, 0.0f, 1.5f, -1.5f, std::numeric_limits<float>::infinity()});
  expectKeysOrderLikeCompare<long>({std::numeric_limits<long>::min(), -1, 0, 1, std::numeric_limits<long>::max()});
  expectKeysOrderLikeCompare<int>({std::numeric_limits<int>::min(), -7, 0, 7, std::numeric_limits<int>::max()});
  expectKeysOrderLikeCompare<short>({-32768, -1, 0, 1, 32767});
  expectKeysOrderLikeCompare<unsigned short>({0, 1, 32768, 65535});
  expectKeysOrderLikeCompare<bool>({false, true});
  EXPECT_FALSE(StringComparator(0, false).hasOrderKey());
}
