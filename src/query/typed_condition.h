#pragma once

#include <cstddef>
#include <cstdint>

#include "query/condition.h"

// A condition comparing fixed-width values of storage type T with a
// constant of that type, which it holds. A subclass answers values packed
// sizeof(T) apart in fillDense; values packed at another width go through
// evaluate() one by one.
template <typename T>
class TypedCondition : public Condition {
 public:
  void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const final {
    if (count == 0) return;
    if (width != sizeof(T)) {
      Condition::evaluateDense(values, width, count, bits);
      return;
    }
    fillDense(values, count, bits);
  }

  // The constant.
  T value{};

 protected:
  TypedCondition() = default;
  TypedCondition(ConditionType conditionType, T constant) : value(constant) { type = conditionType; }

  // evaluateDense for `count` (at least 1) values packed sizeof(T) apart.
  virtual void fillDense(const char* values, size_t count, uint64_t* bits) const = 0;
};
