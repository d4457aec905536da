#include "query/simple_condition.h"

#include "errors/database_exception.h"

SimpleCondition::SimpleCondition(ConditionType conditionType, char* value,
                                 unsigned short length)
    : value_(value), length_(length) {
  type = conditionType;
}

namespace {

// Sign of constant minus row over `length` bytes, stopping at the first
// difference.
int compareBytes(const unsigned char* constant, const unsigned char* row,
                 unsigned short length) {
  for (unsigned short i = 0; i < length; ++i) {
    if (constant[i] != row[i]) {
      return constant[i] < row[i] ? -1 : 1;
    }
  }
  return 0;
}

}  // namespace

bool SimpleCondition::evaluate(const void* value) {
  const int d = compareBytes(reinterpret_cast<const unsigned char*>(value_.get()),
                             static_cast<const unsigned char*>(value), length_);
  switch (type) {
    case EQ:
      result = d == 0;
      break;
    case NE:
      result = d != 0;
      break;
    case LT:
      result = d > 0;
      break;
    case GT:
      result = d < 0;
      break;
    case LE:
      result = d >= 0;
      break;
    case GE:
      result = d <= 0;
      break;
    default:
      throw DatabaseException("Unsupported select condition operator");
  }
  return result;
}
