// Restating a comparison of an integer column with an exactly read decimal
// constant as one against a constant of the column's type.

#include "query/integer_comparison.h"

#include <limits>

namespace {

// Every 64-bit integer is exact in a long double, and so are the integer
// parts the restating works with, up to 2^64.
static_assert(std::numeric_limits<long double>::digits >= 64);

// A decimal constant as a comparison with integers needs it: its sign, its
// integer part (exact below 2^64; larger ones only need to stay beyond
// every 64-bit value) and whether a nonzero digit follows the point.
struct ExactDecimal {
  bool negative = false;
  long double whole = 0;
  bool fraction = false;
};

// Digits before the point past which a number is beyond every 64-bit value.
constexpr int64_t kHugeDigits = 20;
// Stands for an integer part beyond every 64-bit value.
constexpr long double kHuge = 1e30L;
// Exponents are read up to this magnitude; beyond it every number is huge
// or below 1 anyway.
constexpr int64_t kExponentLimit = 1'000'000'000;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads "e", an optional sign and digits at `c`, advancing past them; 0
// and `c` unmoved when no digit follows, as strtod leaves such text.
int64_t readExponent(const char*& c) {
  if (*c != 'e' && *c != 'E') return 0;
  const char* at = c + 1;
  const bool negative = *at == '-';
  if (*at == '+' || *at == '-') ++at;
  if (!isDigit(*at)) return 0;
  int64_t exponent = 0;
  for (; isDigit(*at); ++at) {
    if (exponent < kExponentLimit) exponent = exponent * 10 + (*at - '0');
  }
  c = at;
  return negative ? -exponent : exponent;
}

// The number at the start of `c`, read as strtod reads decimal text but
// exactly; trailing text is ignored, and text without digits is 0.
ExactDecimal readDecimal(const char* c) {
  ExactDecimal number;
  while (isBlank(*c)) ++c;
  const bool negative = *c == '-';
  if (*c == '+' || *c == '-') ++c;
  // The mantissa's digits without leading zeros: the value is
  // 0.digits * 10^point.
  std::string digits;
  int64_t point = 0;
  bool anyDigit = false;
  for (; isDigit(*c); ++c) {
    anyDigit = true;
    if (digits.empty() && *c == '0') continue;
    digits += *c;
    ++point;
  }
  if (*c == '.') {
    for (++c; isDigit(*c); ++c) {
      anyDigit = true;
      if (digits.empty() && *c == '0') {
        --point;
        continue;
      }
      digits += *c;
    }
  }
  if (!anyDigit) return number;
  point += readExponent(c);
  number.negative = negative;
  if (digits.empty()) return number;
  if (point > kHugeDigits) {
    number.whole = kHuge;
    return number;
  }
  const auto length = static_cast<int64_t>(digits.size());
  for (int64_t i = 0; i < point; ++i) number.whole = number.whole * 10 + (i < length ? digits[i] - '0' : 0);
  for (int64_t i = point < 0 ? 0 : point; i < length; ++i) number.fraction |= digits[i] != '0';
  return number;
}

template <typename T>
void rangeOf(long double& lowest, long double& highest) {
  lowest = static_cast<long double>(std::numeric_limits<T>::min());
  highest = static_cast<long double>(std::numeric_limits<T>::max());
}

}  // namespace

IntegerComparison::IntegerComparison(ConditionType type, const std::string& text, DATA_TYPE columnType)
    : type_(type) {
  long double lowest = 0;
  long double highest = 0;
  if (columnType == SHORT) {
    rangeOf<int16_t>(lowest, highest);
  } else if (columnType == INT) {
    rangeOf<int32_t>(lowest, highest);
  } else {
    rangeOf<int64_t>(lowest, highest);
  }
  const ExactDecimal c = readDecimal(text.c_str());
  // The integers next to the constant, below and above; the constant
  // itself when it is an integer.
  const long double step = c.fraction ? 1 : 0;
  const long double below = c.negative ? -(c.whole + step) : c.whole;
  const long double above = c.negative ? -c.whole : c.whole + step;
  if (!c.fraction && below >= lowest && below <= highest) {
    constant_ = static_cast<int64_t>(below);
    return;
  }
  switch (type) {
    case EQ:
    case NE:
      fix(type == NE);
      return;
    case LT:
      atMost(above - 1, lowest, highest);
      return;
    case LE:
      atMost(below, lowest, highest);
      return;
    case GT:
      atLeast(below + 1, lowest, highest);
      return;
    case GE:
      atLeast(above, lowest, highest);
      return;
    case IS_NULL:
    case NOT_NULL:
      return;  // no constant to compare with
  }
}

void IntegerComparison::fix(bool answer) {
  fixed_ = true;
  answer_ = answer;
}

void IntegerComparison::atMost(long double bound, long double lowest, long double highest) {
  if (bound >= highest || bound < lowest) {
    fix(bound >= highest);
    return;
  }
  type_ = LE;
  constant_ = static_cast<int64_t>(bound);
}

void IntegerComparison::atLeast(long double bound, long double lowest, long double highest) {
  if (bound <= lowest || bound > highest) {
    fix(bound <= lowest);
    return;
  }
  type_ = GE;
  constant_ = static_cast<int64_t>(bound);
}
