#pragma once

#include <cstring>

#include "errors/database_exception.h"
#include "query/condition.h"
#include "query/row_bits.h"

// EQ or NE on floating-point values (T is double or float) with the IEEE
// meaning that byte equality lacks: 0 equals -0, and a NaN equals nothing,
// so EQ against or on a NaN is false and NE true. Keeps equality on a plain
// column in step with the same column categorised, whose map treats 0 and -0
// as one value.
template <typename T>
class EqualCondition : public Condition {
 public:
  EqualCondition(ConditionType conditionType, T constant) : value(constant) {
    type = conditionType;
  }

  bool evaluate(const void* row) const override {
    T v;
    std::memcpy(&v, row, sizeof(T));
    switch (type) {
      case EQ:
        return v == value;
      case NE:
        return v != value;
      default:
        throw DatabaseException("Unsupported select condition operator");
    }
  }

  void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                    uint64_t* bits) const override {
    if (count == 0) return;
    const T constant = value;
    if (type == EQ) {
      row_bits::fill<T>(base, rows, delta, count, bits, [constant](T v) { return v == constant; });
    } else if (type == NE) {
      row_bits::fill<T>(base, rows, delta, count, bits, [constant](T v) { return v != constant; });
    } else {
      throw DatabaseException("Unsupported select condition operator");
    }
  }

  void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const override {
    if (count == 0) return;
    if (width != sizeof(T)) {
      Condition::evaluateDense(values, width, count, bits);
      return;
    }
    const T constant = value;
    if (type == EQ) {
      row_bits::fillDense<T>(values, count, bits, [constant](T v) { return v == constant; });
    } else if (type == NE) {
      row_bits::fillDense<T>(values, count, bits, [constant](T v) { return v != constant; });
    } else {
      throw DatabaseException("Unsupported select condition operator");
    }
  }

  // The constant.
  T value;
};
