// parameterConstant: a bound value as the text of a written constant.

#include "planner/parameter_constant.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "errors/database_exception.h"

namespace {

[[noreturn]] void incomparable(const char* what, unsigned short number, const std::string& column, DATA_TYPE type) {
  throw DatabaseException(ErrorKind::kLoad, "Parameter %d is %s, which column %s of type %s cannot compare with",
                          number + 1, what, column.c_str(), getTypeKeyword(type));
}

bool isInteger(DATA_TYPE type) { return type == LONG || type == INT || type == SHORT; }

std::string floatText(double value, unsigned short number, const std::string& column, DATA_TYPE type) {
  if (isInteger(type) && !std::isfinite(value)) {
    if (std::isnan(value)) incomparable("NaN", number, column, type);
    // Integer columns read a constant as an exact decimal number; one this
    // large is beyond every value of every integer type, as infinity is.
    return value > 0 ? "1e1000000000" : "-1e1000000000";
  }
  char text[32];
  const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

std::string dateText(const ParameterValue::Date& date, unsigned short number, const std::string& column,
                     DATA_TYPE type) {
  if (type != DATE && type != STRING) incomparable("a date", number, column, type);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

}  // namespace

std::string parameterConstant(const ParameterValue& value, unsigned short number, const std::string& column,
                              DATA_TYPE type) {
  const ParameterValue::Value& bound = value.value;
  if (std::holds_alternative<ParameterValue::Null>(bound)) {
    throw DatabaseException(ErrorKind::kParse,
                            "Parameter %d is None, which no comparison matches: test for a missing value with "
                            "'is null' or 'is not null'",
                            number + 1);
  }
  if (const auto* integer = std::get_if<int64_t>(&bound)) return std::to_string(*integer);
  if (const auto* real = std::get_if<double>(&bound)) return floatText(*real, number, column, type);
  if (const auto* text = std::get_if<std::string>(&bound)) return *text;
  if (const auto* truth = std::get_if<bool>(&bound)) return *truth ? "1" : "0";
  if (std::holds_alternative<ParameterValue::Stream>(bound)) {
    throw DatabaseException(ErrorKind::kParse,
                            "Parameter %d is an Arrow stream, which only the file name of load ... from ? or "
                            "config from ? reads, not a comparison",
                            number + 1);
  }
  return dateText(std::get<ParameterValue::Date>(bound), number, column, type);
}
