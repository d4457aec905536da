#pragma once

#include "errors/database_exception.h"
#include "query/row_bits.h"
#include "query/typed_condition.h"
#include "storage/unaligned.h"

// EQ or NE on floating-point values (T is double or float) with the IEEE
// meaning that byte equality lacks: 0 equals -0, and a NaN equals nothing,
// so EQ against or on a NaN is false and NE true. Keeps equality on a plain
// column in step with the same column categorised, whose map treats 0 and -0
// as one value.
template <typename T>
class EqualCondition : public TypedCondition<T> {
 public:
  EqualCondition(ConditionType conditionType, T constant) : TypedCondition<T>(conditionType, constant) {}

  using TypedCondition<T>::type;
  using TypedCondition<T>::value;

  bool evaluate(const void* row) const override {
    const T v = unaligned::load<T>(row);
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

 protected:
  void fillDense(const char* values, size_t count, uint64_t* bits) const override {
    const T constant = value;
    if (type == EQ) {
      row_bits::fillDense<T>(values, count, bits, [constant](T v) { return v == constant; });
    } else if (type == NE) {
      row_bits::fillDense<T>(values, count, bits, [constant](T v) { return v != constant; });
    } else {
      throw DatabaseException("Unsupported select condition operator");
    }
  }
};
