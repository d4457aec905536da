// ParameterValue: the names its kinds have in messages.

#include "parser/parameter_value.h"

#include <iterator>

const char* ParameterValue::kindName() const {
  static constexpr const char* kNames[] = {"None",   "an int", "a float",        "a str",
                                           "a bool", "a date", "an Arrow stream"};
  static_assert(std::variant_size_v<Value> == std::size(kNames));
  return kNames[value.index()];
}
