#pragma once

#include <cmath>
#include <type_traits>

#include "storage/data_type.h"

// The order of a category map's values: ValueLess, with -0.0 before 0.0,
// so that a column keeps the sign of each zero it holds. Conditions treat
// the two zeros as equal, as on a plain column. NaN, which ValueLess puts
// after every number, stays there.
template <typename T>
struct CategoryLess {
  bool operator()(const T& a, const T& b) const {
    if constexpr (std::is_floating_point_v<T>) {
      if (a == b) return std::signbit(a) && !std::signbit(b);
    }
    return ValueLess<T>()(a, b);
  }
};
