#pragma once

#include <cstdint>
#include <string>

#include "query/condition.h"
#include "storage/data_type.h"

// A comparison of an integer column (LONG, INT or SHORT) with a constant as
// written in a query, restated so that the constant is one the column's
// type holds. The constant is read as the exact decimal number it is
// (leading blanks, a sign, digits with an optional point, an optional
// exponent; trailing text ignored; text without digits is 0), never cut to
// an integer or wrapped to the type's width: "a < 2.5" becomes "a <= 2",
// "a >= 2.5" becomes "a >= 3", and a comparison that no value of the type,
// or every value, satisfies ("a = 2.5", "a < 3000000000" on an int) has a
// fixed answer. A constant that already is an integer the type holds keeps
// its comparison as written.
class IntegerComparison {
 public:
  IntegerComparison(ConditionType type, const std::string& text, DATA_TYPE columnType);

  // True when every value of the type gives the same answer.
  bool fixed() const { return fixed_; }
  // That answer, when fixed().
  bool answer() const { return answer_; }
  // Otherwise: the comparison, against constant(), that keeps the same
  // values as the one written.
  ConditionType type() const { return type_; }
  int64_t constant() const { return constant_; }

 private:
  // Sets the fixed answer.
  void fix(bool answer);
  // "v <= bound" over the type's values [lowest, highest].
  void atMost(long double bound, long double lowest, long double highest);
  // "v >= bound" over the type's values [lowest, highest].
  void atLeast(long double bound, long double lowest, long double highest);

  bool fixed_ = false;
  bool answer_ = false;
  ConditionType type_;
  int64_t constant_ = 0;
};
