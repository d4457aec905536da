#pragma once

#include <string>

#include "errors/database_exception.h"
#include "query/row_bits.h"
#include "query/typed_condition.h"
#include "storage/data_type.h"
#include "storage/unaligned.h"

// A range condition (LT, GT, LE, GE) on typed values of storage type T: the
// value types of LONG, INT, SHORT, DOUBLE, FLOAT, BOOL and DATE, and
// unsigned short for category numbers. Comparisons are those of T, so a NaN
// on either side of a floating-point comparison answers false. Created
// through createTemplatedClass<CompareCondition>(type, type, text), which
// converts the constant's text as the given type.
template <typename T>
class CompareCondition : public TypedCondition<T> {
 public:
  CompareCondition(DATA_TYPE valueType, std::string text) {
    copyStringValueToBuffer(text.c_str(), reinterpret_cast<char*>(&value), valueType);
  }
  // A condition of the given type against an already converted constant.
  CompareCondition(ConditionType conditionType, T constant) : TypedCondition<T>(conditionType, constant) {}

  using TypedCondition<T>::type;
  using TypedCondition<T>::value;

  bool evaluate(const void* row) const override {
    const T v = unaligned::load<T>(row);
    switch (type) {
      case LT:
        return v < value;
      case GT:
        return v > value;
      case LE:
        return v <= value;
      case GE:
        return v >= value;
      default:
        throw DatabaseException("Unsupported select condition operator");
    }
  }

  void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                    uint64_t* bits) const override {
    if (count == 0) return;
    if (!row_bits::fillRange<T>(base, rows, delta, count, bits, type, value, LT, GT, LE, GE)) {
      throw DatabaseException("Unsupported select condition operator");
    }
  }

 protected:
  void fillDense(const char* values, size_t count, uint64_t* bits) const override {
    if (!row_bits::fillRangeDense<T>(values, count, bits, type, value, LT, GT, LE, GE)) {
      throw DatabaseException("Unsupported select condition operator");
    }
  }
};
