// Translating a condition's constant into the form the rows hold: a
// category number or a range of them, or the stored value.

#include "query/condition_factory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "errors/database_exception.h"
#include "query/category_range_condition.h"
#include "query/compare_condition.h"
#include "query/equal_condition.h"
#include "query/fixed_condition.h"
#include "query/integer_comparison.h"
#include "query/null_condition.h"
#include "query/simple_condition.h"
#include "storage/table_config.h"
#include "storage/templated_class.h"

namespace {

// Takes over a block from stringValueToBuffer.
std::unique_ptr<char[]> storedValue(const std::string& text, DATA_TYPE type) {
  return std::unique_ptr<char[]>(static_cast<char*>(stringValueToBuffer(text.c_str(), type)));
}

// The category number of NaN when the column is floating-point and its map
// holds NaN, else 0. NaN numbers after every other value, yet compares
// false, so lower bounds must stop below it.
unsigned short nanNumber(ColumnMapBase& map, DATA_TYPE type) {
  if (type == DOUBLE) {
    double nan = std::nan("");
    return map.containsValue(&nan) ? map.getInt(&nan) : 0;
  }
  if (type == FLOAT) {
    float nan = std::nanf("");
    return map.containsValue(&nan) ? map.getInt(&nan) : 0;
  }
  return 0;
}

std::unique_ptr<Condition> categoryEquality(ConditionType type, unsigned short number) {
  char* bytes = new char[sizeof number];
  std::memcpy(bytes, &number, sizeof number);
  return std::make_unique<SimpleCondition>(type, bytes, static_cast<unsigned short>(sizeof number));
}

// EQ or NE against a zero on a floating-point column, whose map holds -0.0
// and 0.0 as two values next to each other: both equal the constant, so
// the condition asks for the numbers from -0.0's place to 0.0's.
std::unique_ptr<Condition> zeroEquality(ColumnMapBase& map, DATA_TYPE dataType, ConditionType type) {
  double zero = 0;
  storeZero(&zero, dataType, true);
  const unsigned short low = map.getIntGreatEQ(&zero);
  storeZero(&zero, dataType, false);
  return std::make_unique<CategoryRangeCondition>(type, low, map.getIntLessEq(&zero));
}

// A condition on category numbers. Category 0 is never assigned, so EQ on a
// constant the map lacks matches no row and NE every row; a range whose
// constant is absent becomes the inclusive bound of the nearest value
// inside it (0 or 65535 beyond every value, matching all rows or none).
// On a `nullable` column no condition takes NULL_CATEGORY: NE and lower
// bounds become ranges, which stop below it.
std::unique_ptr<Condition> categoryCondition(ColumnMapBase& map, DATA_TYPE dataType, ConditionType type,
                                             const std::string& value, bool nullable) {
  const std::unique_ptr<char[]> stored = storedValue(value, dataType);
  void* const constant = stored.get();
  if (isNanValue(constant, dataType)) {
    // Compared with NaN every operator but != answers false.
    if (type == NE && nullable) return std::make_unique<CategoryRangeCondition>(NE, 0, 0);
    if (type == EQ || type == NE) {
      return categoryEquality(type, 0);
    }
    return std::make_unique<CategoryRangeCondition>(type, 1, 0);
  }
  if (isZeroValue(constant, dataType)) {
    if (type == EQ || type == NE) return zeroEquality(map, dataType, type);
    // A range that stops below the zeros or starts above them is bounded
    // by -0.0 or by 0.0, whichever zero the constant is written as.
    storeZero(constant, dataType, type == LT || type == GE);
  }
  const bool present = map.containsValue(constant);
  const unsigned short number = present ? map.getInt(constant) : 0;
  if (type == NE && nullable) return std::make_unique<CategoryRangeCondition>(NE, number, number);
  if (type == EQ || type == NE) {
    return categoryEquality(type, number);
  }
  if (type == LT || type == LE) {
    if (present) {
      return std::make_unique<CompareCondition<unsigned short>>(type, number);
    }
    // Every value below the constant: at most the number below NULL's.
    const unsigned short bound = std::min<unsigned short>(map.getIntLessEq(constant), NULL_CATEGORY - 1);
    return std::make_unique<CompareCondition<unsigned short>>(LE, bound);
  }
  const unsigned short nan = nanNumber(map, dataType);
  if (nan == 0 && !nullable) {
    if (present) {
      return std::make_unique<CompareCondition<unsigned short>>(type, number);
    }
    return std::make_unique<CompareCondition<unsigned short>>(GE, map.getIntGreatEQ(constant));
  }
  unsigned short low = map.getIntGreatEQ(constant);
  if (present && type == GT) {
    low = static_cast<unsigned short>(number + 1);
  }
  const unsigned short high = nan != 0 ? static_cast<unsigned short>(nan - 1) : NULL_CATEGORY - 1;
  return std::make_unique<CategoryRangeCondition>(type, low, high);
}

// IS_NULL or NOT_NULL: on the NULL_CATEGORY number of a categorised column,
// on the null flag of a plain one, and the same answer for every row of a
// column that cannot hold NULL.
std::unique_ptr<Condition> nullTest(const TableConfig& table, unsigned short column, ConditionType type) {
  if (table.nullable[column] == 0) return std::make_unique<FixedCondition>(type, type == NOT_NULL);
  if (table.isPlain[column] != 0) return std::make_unique<NullCondition>(type);
  std::unique_ptr<Condition> condition = categoryEquality(type == IS_NULL ? EQ : NE, NULL_CATEGORY);
  condition->nullAnswer = type == IS_NULL;
  return condition;
}

// Bytes compared by a SimpleCondition on a stored value of the type.
unsigned short storedLength(const char* stored, DATA_TYPE type) {
  if (type != STRING) {
    return getTypeWidth(type);
  }
  return static_cast<unsigned short>(std::strlen(stored) + 1);
}

template <typename T>
std::unique_ptr<Condition> floatEquality(ConditionType type, const std::string& value,
                                         DATA_TYPE dataType) {
  T constant;
  copyStringValueToBuffer(value.c_str(), reinterpret_cast<char*>(&constant), dataType);
  return std::make_unique<EqualCondition<T>>(type, constant);
}

// A condition on the stored value of a plain column: bytes for equality and
// for text, typed comparison for ranges, IEEE equality for floating point.
std::unique_ptr<Condition> plainCondition(DATA_TYPE dataType, ConditionType type,
                                          const std::string& value) {
  const bool equality = type == EQ || type == NE;
  if (equality && dataType == DOUBLE) {
    return floatEquality<double>(type, value, dataType);
  }
  if (equality && dataType == FLOAT) {
    return floatEquality<float>(type, value, dataType);
  }
  if (equality || dataType == STRING) {
    std::unique_ptr<char[]> stored = storedValue(value, dataType);
    const unsigned short length = storedLength(stored.get(), dataType);
    return std::make_unique<SimpleCondition>(type, stored.release(), length);
  }
  std::unique_ptr<Condition> condition(
      static_cast<Condition*>(createTemplatedClass<CompareCondition>(dataType, dataType, value)));
  condition->type = type;
  return condition;
}

// The condition on the form in which the table's rows hold the column: a
// category number or the stored value.
std::unique_ptr<Condition> storedFormCondition(const TableConfig& table, unsigned short column, ConditionType type,
                                               const std::string& value) {
  const DATA_TYPE dataType = table.columnTypes[column];
  if (table.isPlain[column] == 0) {
    return categoryCondition(*table.columnMaps.at(column), dataType, type, value, table.nullable[column] != 0);
  }
  return plainCondition(dataType, type, value);
}

}  // namespace

std::unique_ptr<Condition> createCondition(const TableConfig& table, unsigned short column, ConditionType type,
                                           const std::string& value) {
  if (type < EQ || type > NOT_NULL) {
    throw DatabaseException("Unsupported condition type");
  }
  table.requireColumn(column);
  if (type == IS_NULL || type == NOT_NULL) return nullTest(table, column, type);
  const DATA_TYPE dataType = table.columnTypes[column];
  if (dataType != LONG && dataType != INT && dataType != SHORT) {
    return storedFormCondition(table, column, type, value);
  }
  // An integer column compares with the constant's true value, which its
  // type may not hold.
  const IntegerComparison restated(type, value, dataType);
  if (restated.fixed()) {
    // Every value passes, but a NULL does not.
    if (restated.answer() && table.nullable[column] != 0) return nullTest(table, column, NOT_NULL);
    return std::make_unique<FixedCondition>(type, restated.answer());
  }
  return storedFormCondition(table, column, restated.type(), std::to_string(restated.constant()));
}
