#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <type_traits>
#include <typeinfo>
#include <functional>
#include <map>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "../test_support.h"
#include "errors/database_exception.h"
#include "storage/column_map.h"

namespace {

template <typename T>
bool addValue(ColumnMap<T>& map, T value) {
  return map.add(&value);
}

template <typename T>
unsigned short numberOf(ColumnMap<T>& map, T value) {
  return map.getInt(&value);
}

template <typename T>
unsigned short lessEq(ColumnMap<T>& map, T value) {
  return map.getIntLessEq(&value);
}

template <typename T>
unsigned short greatEq(ColumnMap<T>& map, T value) {
  return map.getIntGreatEQ(&value);
}

std::vector<unsigned short> allInts(ColumnMapBase& map) {
  std::vector<unsigned short> out = {1, 2, 3};
  map.getAllInts(out);
  return out;
}

}  // namespace

TEST(ColumnMap, NumbersHalveTowardsTheFreeEnd) {
  ColumnMap<int> map;
  ASSERT_TRUE(addValue(map, 10));
  ASSERT_TRUE(addValue(map, 20));
  ASSERT_TRUE(addValue(map, 30));
  ASSERT_TRUE(addValue(map, 5));
  EXPECT_EQ(numberOf(map, 10), 32767);
  EXPECT_EQ(numberOf(map, 20), 49151);
  EXPECT_EQ(numberOf(map, 30), (49151 + 65535) / 2);
  EXPECT_EQ(numberOf(map, 5), 16383);
  ASSERT_TRUE(addValue(map, 15));
  EXPECT_EQ(numberOf(map, 15), (32767 + 49151) / 2);
  EXPECT_EQ(map.getSize(), 5u);
  EXPECT_EQ(allInts(map), (std::vector<unsigned short>{16383, 32767, 40959, 49151, 57343}));
  EXPECT_FALSE(addValue(map, 10)) << "a value already held is not added again";
  EXPECT_EQ(numberOf(map, 10), 32767);
}

// Each new value takes the midpoint between its neighbours (or the free
// end): a sorted run runs out of numbers at either end until renumbered.
TEST(ColumnMap, SortedRunsRunOutOfNumbersUntilRenumbered) {
  ColumnMap<double> up;
  for (int i = 1; i <= 16; ++i) ASSERT_TRUE(addValue(up, static_cast<double>(i))) << i;
  EXPECT_EQ(numberOf(up, 15.0), 65533);
  EXPECT_EQ(numberOf(up, 16.0), 65534);
  EXPECT_FALSE(addValue(up, 17.0));
  EXPECT_FALSE(addValue(up, 15.5)) << "consecutive numbers leave no room between them";
  EXPECT_EQ(up.getSize(), 16u);
  up.recalculatePositions();
  EXPECT_TRUE(addValue(up, 15.5));
  EXPECT_TRUE(addValue(up, 17.0));

  ColumnMap<unsigned short> down;  // dates: unsigned, above the signed range too
  for (unsigned short v = 40100; v > 40085; --v) ASSERT_TRUE(addValue(down, v)) << v;
  EXPECT_EQ(numberOf(down, static_cast<unsigned short>(40086)), 1);
  EXPECT_FALSE(addValue(down, static_cast<unsigned short>(100)));
  down.recalculatePositions();
  EXPECT_TRUE(addValue(down, static_cast<unsigned short>(100)));
}

// Renumbering spreads the values evenly from 3276 on; values sampled with
// caller numbers get theirs only then.
TEST(ColumnMap, RecalculateSpreadsNumbersEvenly) {
  ColumnMap<int> map;
  const std::vector<std::pair<int, bool>> sampled{{9, true}, {3, true}, {9, false}, {6, true}};
  for (auto [v, isNew] : sampled) EXPECT_EQ(map.add(&v, 0), isNew) << v;
  EXPECT_EQ(map.getSize(), 3u);
  EXPECT_TRUE(allInts(map).empty()) << "caller numbers do not enter the number index";
  int nine = 9;
  EXPECT_FALSE(map.add(&nine, 77)) << "a held value takes the number but is not new";
  EXPECT_EQ(map.getInt(&nine), 77);
  EXPECT_EQ(map.getSize(), 3u);
  map.recalculatePositions();
  EXPECT_EQ(allInts(map), (std::vector<unsigned short>{3276, 3276 + 14745, 32767}));
  EXPECT_EQ(map.getInt(&nine), 32767);
  EXPECT_EQ(*static_cast<int*>(map.getValuePointer(32767)), 9);

  ColumnMap<int> pair;
  for (int v : {0, 2}) ASSERT_TRUE(addValue(pair, v));
  pair.recalculatePositions();
  const unsigned short upper = 3276 + 58983 / 3;
  EXPECT_EQ(numberOf(pair, 2), upper);
  ASSERT_TRUE(addValue(pair, 1));
  EXPECT_EQ(numberOf(pair, 1), (3276 + upper) / 2);
}

TEST(ColumnMap, RenumberingSpreadsOverEveryNumberOnceTheSpacingRunsOut) {
  ColumnMap<int> map;
  for (int v = 0; v < 58982; ++v) map.add(&v, 0);
  map.recalculatePositions();
  std::vector<unsigned short> numbers = allInts(map);
  ASSERT_EQ(numbers.size(), 58982u);
  EXPECT_EQ(numbers.front(), 3276);
  EXPECT_LT(numbers.back(), 3276 + 58983);
  for (int v = 58982; v < 65534; ++v) map.add(&v, 0);
  map.recalculatePositions();
  numbers = allInts(map);
  ASSERT_EQ(numbers.size(), 65534u) << "every number is taken, each by one value";
  EXPECT_EQ(numbers.front(), 1);
  EXPECT_EQ(numbers.back(), 65534);
  int extra = 65534;
  map.add(&extra, 0);
  EXPECT_THROW(map.recalculatePositions(), DatabaseException);
  EXPECT_EQ(allInts(map), numbers) << "a refused renumbering leaves the numbers";
}

// Loading into a full map: a value without room at its place in the order
// takes any free number, and a renumbering (here after every thousand such
// values) restores the order and reports each old number's new one.
TEST(ColumnMap, EveryArrivalOrderFillsEveryNumber) {
  for (const char* order : {"sorted", "reverse", "random", "gap"}) {
    ColumnMap<int> map;
    std::vector<unsigned short> translation(65536);
    std::vector<int> added;
    // `pin`: every number's pointer too, before and after (a walk of them all).
    const auto renumberAndCheck = [&](bool pin) {
      std::map<int, unsigned short> before;
      for (int value : added) before[value] = numberOf(map, value);
      if (pin) test_support::expectPointersPinned(map);
      map.renumber(translation.data());
      if (pin) test_support::expectPointersPinned(map);
      unsigned short previous = 0;
      for (const auto& [value, old] : before) {
        const unsigned short number = numberOf(map, value);
        ASSERT_GT(number, previous) << order << ": numbers follow the values";
        ASSERT_EQ(translation[old], number) << order;
        ASSERT_EQ(*static_cast<int*>(map.getValuePointer(number)), value) << order;
        ASSERT_EQ(lessEq(map, value), number) << order;
        previous = number;
      }
      ASSERT_LT(previous, 65535);
      ASSERT_EQ(allInts(map).size(), before.size());
    };
    int provisional = 0;
    const int* first = nullptr;
    for (int value : test_support::arrivalOrder(order, 65534)) {
      added.push_back(value);
      if (!map.add(&value)) {
        ASSERT_NE(map.addUnordered(&value), 0) << order << " " << value;
        if (++provisional % 1000 == 0) renumberAndCheck(provisional % 8000 == 0);
      }
      if (first == nullptr) first = static_cast<int*>(map.getValuePointer(numberOf(map, value)));
    }
    renumberAndCheck(true);
    EXPECT_EQ(*first, added.front()) << order << ": a value's pointer outlives every later add";
    EXPECT_EQ(map.getSize(), 65534u);
    int more = 70000;
    EXPECT_FALSE(map.add(&more));
    EXPECT_EQ(map.addUnordered(&more), 0) << order << ": no number is left";
    EXPECT_EQ(map.getSize(), 65534u);
  }
}

// Values numbered out of order wait outside the ordered map; every
// operation that needs the order must see them, with the numbers they got.
TEST(ColumnMap, ValuesNumberedOutOfOrderJoinTheOrderWhenNeeded) {
  struct Case {
    const char* operation;
    std::function<void(ColumnMap<int>&, const std::map<int, unsigned short>&)> check;
  };
  const std::vector<Case> cases = {
      {"range lookups",
       [](ColumnMap<int>& map, const std::map<int, unsigned short>& numbers) {
         for (const auto& [value, number] : numbers) {
           EXPECT_EQ(lessEq(map, value), number) << value;
           EXPECT_EQ(greatEq(map, value), number) << value;
         }
       }},
      {"clone",
       [](ColumnMap<int>& map, const std::map<int, unsigned short>& numbers) {
         const std::unique_ptr<ColumnMapBase> copy = map.clone();
         test_support::expectPointersPinned(*copy);
         EXPECT_EQ(copy->getSize(), numbers.size());
         for (const auto& [value, number] : numbers) {
           int probe = value;
           EXPECT_EQ(copy->getInt(&probe), number) << value;
         }
         std::vector<unsigned short> mine(65536), theirs(65536);
         map.renumber(mine.data());
         copy->renumber(theirs.data());
         EXPECT_EQ(mine, theirs);
       }},
      {"ordered add",
       [](ColumnMap<int>& map, const std::map<int, unsigned short>&) {
         // Between two values numbered out of order: no room, or a number
         // no other value has.
         int between = 1001;
         if (map.add(&between)) {
           EXPECT_EQ(allInts(map).size(), map.getSize());
         }
         std::vector<unsigned short> translation(65536);
         map.renumber(translation.data());
         EXPECT_EQ(allInts(map).size(), map.getSize());
       }},
      {"renumbering",
       [](ColumnMap<int>& map, const std::map<int, unsigned short>& numbers) {
         std::vector<unsigned short> translation(65536);
         map.renumber(translation.data());
         unsigned short previous = 0;
         for (auto [value, old] : numbers) {
           const unsigned short number = numberOf(map, value);
           EXPECT_GT(number, previous) << value << ": numbers follow the values";
           EXPECT_EQ(translation[old], number) << value;
           EXPECT_EQ(*static_cast<int*>(map.getValuePointer(number)), value);
           previous = number;
         }
         EXPECT_EQ(allInts(map).size(), numbers.size());
       }},
      {"sampling a held value",
       [](ColumnMap<int>& map, const std::map<int, unsigned short>& numbers) {
         int value = numbers.begin()->first;
         map.add(&value, 7);
         map.recalculatePositions();
         EXPECT_EQ(map.getSize(), numbers.size()) << "the value is held once";
         EXPECT_EQ(lessEq(map, value), 3276);
       }},
  };
  for (const Case& c : cases) {
    ColumnMap<int> map;
    std::map<int, unsigned short> numbers;
    // A few values in order, then the rest wherever a number is free.
    // Then the ends of the int range and the key the hash index keeps
    // for its free slots, which it must hold beside them.
    std::vector<int> arrivals = test_support::arrivalOrder("random", 400);
    for (int& value : arrivals) value *= 5;
    const int freeKey = static_cast<int>(ValueHashIndex<uint32_t>::kFreeKey);
    arrivals.insert(arrivals.begin() + 200, {std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                                             freeKey, freeKey + 1, freeKey - 1, -1});
    for (int value : arrivals) {
      const bool ordered = numbers.size() < 8;
      if (ordered) {
        ASSERT_TRUE(map.add(&value)) << c.operation;
      }
      numbers[value] = ordered ? numberOf(map, value) : map.addUnordered(&value);
      ASSERT_NE(numbers[value], 0) << c.operation;
    }
    EXPECT_EQ(map.getSize(), numbers.size()) << c.operation;
    for (auto [value, number] : numbers) {
      ASSERT_EQ(numberOf(map, value), number) << c.operation;
      ASSERT_EQ(*static_cast<int*>(map.getValuePointer(number)), value) << c.operation;
    }
    SCOPED_TRACE(c.operation);
    test_support::expectPointersPinned(map);
    c.check(map, numbers);
    test_support::expectPointersPinned(map);
  }
}

TEST(ColumnMap, NanIsOneValueAfterEveryNumberAndEachZeroKeepsItsSign) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  ColumnMap<double> map;
  ASSERT_TRUE(addValue(map, nan));
  ASSERT_TRUE(addValue(map, 1.0));
  ASSERT_TRUE(addValue(map, inf));
  ASSERT_TRUE(addValue(map, -inf));
  EXPECT_FALSE(addValue(map, -nan)) << "every NaN is the same value";
  ASSERT_TRUE(addValue(map, 0.0));
  ASSERT_TRUE(addValue(map, -0.0)) << "-0.0 is a value of its own";
  EXPECT_LT(numberOf(map, -0.0), numberOf(map, 0.0));
  EXPECT_TRUE(std::signbit(*static_cast<double*>(map.getValuePointer(numberOf(map, -0.0)))));
  double otherNan = std::nan("7");
  EXPECT_EQ(map.addUnordered(&otherNan), numberOf(map, nan));
  EXPECT_EQ(map.getSize(), 6u);
  EXPECT_LT(numberOf(map, -inf), numberOf(map, 1.0));
  EXPECT_LT(numberOf(map, 1.0), numberOf(map, inf));
  EXPECT_LT(numberOf(map, inf), numberOf(map, nan));
  EXPECT_EQ(numberOf(map, nan), 32767);
  EXPECT_EQ(greatEq(map, 5.0), numberOf(map, inf));
  EXPECT_EQ(lessEq(map, nan), numberOf(map, nan));
  map.recalculatePositions();
  EXPECT_TRUE(std::isnan(*static_cast<double*>(map.getValuePointer(allInts(map).back()))));

  ColumnMap<float> floats;
  ASSERT_TRUE(addValue(floats, std::numeric_limits<float>::quiet_NaN()));
  ASSERT_TRUE(addValue(floats, 2.5f));
  EXPECT_LT(numberOf(floats, 2.5f), numberOf(floats, std::numeric_limits<float>::quiet_NaN()));
}

// Wider types find their numbers through the hash index, whose free slots
// hold a key of their own: a value with that key's bits, and the values
// around it and at the type's ends, are numbered, found, sampled and
// renumbered like any other.
template <typename T>
T beside(T value, int step) {
  if constexpr (std::is_floating_point_v<T>) {
    for (; step > 0; --step) value = std::nextafter(value, std::numeric_limits<T>::max());
    for (; step < 0; ++step) value = std::nextafter(value, std::numeric_limits<T>::lowest());
    return value;
  } else {
    return static_cast<T>(value + step);
  }
}

template <typename T>
void expectWideTypeEdgesFound(T freeKeyValue) {
  SCOPED_TRACE(typeid(T).name());
  const std::vector<T> values{freeKeyValue, std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max(),
                              T(-1), T(0), beside(freeKeyValue, 1), beside(freeKeyValue, -1)};
  ColumnMap<T> map;
  T probe = freeKeyValue;
  EXPECT_EQ(map.getInt(&probe), 0) << "absent from an empty map";
  EXPECT_FALSE(map.containsValue(&probe));
  for (size_t i = 0; i < values.size(); ++i) {
    T value = values[i];
    ASSERT_EQ(map.add(&value, static_cast<unsigned short>(i)), true) << i;
    EXPECT_EQ(numberOf(map, values[i]), i) << "a sampled number, 0 among them";
  }
  for (T value : values) EXPECT_FALSE(map.add(&value, 0)) << "sampled again";
  map.recalculatePositions();
  for (int i = 0; i < 3000; ++i) {
    T value = static_cast<T>(i * 3 + 5);
    ASSERT_NE(map.addUnordered(&value), 0) << i << ": the table grows past its first sizes";
  }
  std::vector<unsigned short> translation(65536);
  for (int pass = 0; pass < 2; ++pass) {
    std::map<T, unsigned short> before;
    for (T value : values) before[value] = numberOf(map, value);
    if (pass == 0) {
      map.recalculatePositions();
    } else {
      map.renumber(translation.data());
    }
    unsigned short previous = 0;
    for (const auto& [value, old] : before) {
      const unsigned short number = numberOf(map, value);
      EXPECT_GT(number, previous) << "numbers follow the values";
      if (pass == 1) {
        EXPECT_EQ(translation[old], number);
      }
      EXPECT_EQ(*static_cast<T*>(map.getValuePointer(number)), value);
      previous = number;
    }
  }
  for (T absent : {beside(freeKeyValue, 2), T(2), T(-2)}) EXPECT_EQ(numberOf(map, absent), 0);
}

TEST(ColumnMap, WideTypesFindTheirEdgesAndTheFreeSlotKey) {
  expectWideTypeEdgesFound<int>(static_cast<int>(ValueHashIndex<uint32_t>::kFreeKey));
  expectWideTypeEdgesFound<int64_t>(static_cast<int64_t>(ValueHashIndex<uint64_t>::kFreeKey));
  double freeKeyDouble = 0;
  const uint64_t bits = ValueHashIndex<uint64_t>::kFreeKey;
  std::memcpy(&freeKeyDouble, &bits, sizeof bits);
  expectWideTypeEdgesFound<double>(freeKeyDouble);
}

// Short, date and bool maps answer exact lookups from a table indexed by
// the value's bits; it must agree with the ordered map through adds,
// sampling and renumbering, for negative values as well.
TEST(ColumnMap, NarrowTypesAnswerLookupsLikeTheOrderedMap) {
  ColumnMap<short> map;
  const std::vector<short> values{-32768, -1, 0, 1, 500, 32767, -200};
  for (const short value : values) EXPECT_TRUE(addValue(map, value));
  EXPECT_FALSE(addValue(map, short{500})) << "a value is numbered once";
  const auto agrees = [&] {
    for (const short value : values) {
      short probe = value;
      ASSERT_TRUE(map.containsValue(&probe)) << value;
      const unsigned short number = numberOf(map, value);
      EXPECT_EQ(*static_cast<short*>(map.getValuePointer(number)), value) << value;
      EXPECT_EQ(lessEq(map, value), number) << value;
    }
    for (const short absent : {short{2}, short{-2}, short{32766}}) {
      short probe = absent;
      EXPECT_FALSE(map.containsValue(&probe)) << absent;
      EXPECT_EQ(numberOf(map, absent), 0) << absent;
    }
  };
  agrees();
  map.recalculatePositions();
  agrees();

  ColumnMap<bool> flags;
  bool yes = true;
  EXPECT_TRUE(flags.add(&yes, 0));
  EXPECT_FALSE(flags.add(&yes, 0)) << "sampled again";
  EXPECT_TRUE(flags.containsValue(&yes)) << "a sampled value is present with number 0";
  EXPECT_EQ(flags.getInt(&yes), 0);
  bool no = false;
  EXPECT_FALSE(flags.containsValue(&no));
  EXPECT_TRUE(flags.add(&no, 0));
  flags.recalculatePositions();
  EXPECT_LT(flags.getInt(&no), flags.getInt(&yes));
  EXPECT_TRUE(*static_cast<bool*>(flags.getValuePointer(flags.getInt(&yes))));
  EXPECT_FALSE(flags.add(&no, 0)) << "renumbered, yet still held";
  EXPECT_EQ(flags.getSize(), 2u);
}
