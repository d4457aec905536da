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

namespace {

// Every pair of values orders the same by orderKey as by compare().
template <typename T>
void expectKeysOrderLikeCompare(const std::vector<T>& values) {
  const FieldComparator<T> comparator(0, false);
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
  // A text's key is its first bytes: different keys order as the texts do.
  const StringComparator texts(0, false);
  const std::vector<const char*> words{"", "a", "ab", "abcdefgh", "abcdefghi", "abcdefgz", "\xff", "\x01", "b"};
  for (const char* a : words) {
    for (const char* b : words) {
      const uint64_t keyA = texts.orderKey(a);
      const uint64_t keyB = texts.orderKey(b);
      if (keyA != keyB) {
        EXPECT_EQ(keyA < keyB, texts.compare(a, b) < 0) << a << " vs " << b;
      }
    }
  }
}
