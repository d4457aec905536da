// Conversions between the text form and the stored form of column values,
// and the calendar arithmetic of dates.

#include "storage/data_type.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "errors/database_exception.h"
#include "storage/short_number.h"
#include "storage/text_bytes.h"
#include "storage/unaligned.h"

namespace {

using short_number::everyByte;

const char* const kUnknownType = "Unknown data type provided";

const char* const kBadDate =
    "Unable to convert value %s to date. Accepted format YYYY-MM-DD from 1970-01-01 to 2149-06-06";

const char* const kBadBool =
    "Unable to convert value %s to boolean. Accepted values TRUE/True/true/YES/Yes/yes/Y/y/1 for true and "
    "FALSE/False/false/NO/No/no/N/n/0 for false";

const char* const kStringTooLong =
    "Text of %d bytes is too long: a text value holds at most %d bytes including its terminating NUL";

// Keywords indexed by DATA_TYPE value; index 0 is not a type.
const char* const kKeywords[] = {"", "long", "int", "short", "double", "float", "string", "bool", "date"};

// Widths indexed by DATA_TYPE value; STRING has no fixed width.
const unsigned short kWidths[] = {0, 8, 4, 2, 8, 4, 0, 1, 2};

// A word of up to 8 characters as littleWord reads it.
constexpr uint64_t wordOf(const char* text) {
  uint64_t word = 0;
  for (unsigned i = 0; text[i] != '\0'; ++i) {
    word |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  }
  return word;
}

// The written forms of a boolean, as words.
constexpr uint64_t kTrueWords[] = {wordOf("true"), wordOf("True"), wordOf("TRUE"), wordOf("yes"), wordOf("Yes"),
                                   wordOf("YES"),  wordOf("y"),    wordOf("Y"),    wordOf("1")};
constexpr uint64_t kFalseWords[] = {wordOf("false"), wordOf("False"), wordOf("FALSE"), wordOf("no"), wordOf("No"),
                                    wordOf("NO"),    wordOf("n"),     wordOf("N"),     wordOf("0")};

void requireValidType(DATA_TYPE type) {
  if (!isValidType(type)) throw DatabaseException(kUnknownType);
}

void requireStringFits(size_t length) {
  if (length + 1 > MAX_STRING_BYTES) {
    throw DatabaseException(ErrorKind::kLoad,
                            kStringTooLong, static_cast<int>(length + 1), static_cast<int>(MAX_STRING_BYTES));
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads between minDigits and maxDigits decimal digits of a date's year,
// month or day at text; advances text past them. False when fewer than
// minDigits are present.
bool readDateDigits(const char*& text, int minDigits, int maxDigits, int& value) {
  value = 0;
  int digits = 0;
  while (digits < maxDigits && isDigit(*text)) {
    value = value * 10 + (*text - '0');
    ++text;
    ++digits;
  }
  return digits >= minDigits;
}

// Civil calendar arithmetic on 400-year eras, so no time zone or C library
// state enters. Years are counted from 1 March, so that a leap day ends its
// year; an era of the Gregorian calendar has 146097 days, and 1970-01-01 is
// day 719468 counted from 0000-03-01. A month of the shifted year (March is
// 0) starts on day (153 * month + 2) / 5, which follows the 31/30 pattern
// of March to February.
constexpr long kDaysPerEra = 146097;
constexpr long kEpochFromYearZero = 719468;

// Days from 1970-01-01 to a valid proleptic Gregorian date.
constexpr long daysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = year / 400;
  const int yearOfEra = year - era * 400;
  const int shiftedMonth = month > 2 ? month - 3 : month + 9;
  const int dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<long>(era) * kDaysPerEra + dayOfEra - kEpochFromYearZero;
}

// The years a stored date can fall in, with the day number of the first of
// each month and of the next 1 January: a date is numbered and checked by
// two reads of one row.
constexpr int kFirstDateYear = 1970;
constexpr int kLastDateYear = 2149;
struct MonthStarts {
  int32_t days[kLastDateYear - kFirstDateYear + 1][13];
};
constexpr MonthStarts makeMonthStarts() {
  MonthStarts starts{};
  for (int year = kFirstDateYear; year <= kLastDateYear; ++year) {
    for (int month = 1; month <= 12; ++month) {
      starts.days[year - kFirstDateYear][month - 1] = static_cast<int32_t>(daysFromCivil(year, month, 1));
    }
    starts.days[year - kFirstDateYear][12] = static_cast<int32_t>(daysFromCivil(year + 1, 1, 1));
  }
  return starts;
}
constexpr MonthStarts kMonthStarts = makeMonthStarts();

// Days since 1970-01-01 of a date a stored date can hold (1970-01-01 to
// 2149-06-06); -1 when the month has no such day or the date is outside
// that range.
long storedDayNumber(int year, int month, int day) {
  if (year < kFirstDateYear || year > kLastDateYear || month < 1 || month > 12 || day < 1) return -1;
  const int32_t* const starts = &kMonthStarts.days[year - kFirstDateYear][month - 1];
  const long days = starts[0] + day - 1;
  return days < starts[1] && days <= MAX_DATE_DAYS ? days : -1;
}

void writeDigits(char* out, int value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// mantissa / 10^scale as the nearest double, for a mantissa of at most 15
// decimal digits and a scale of at most 15: both are exact doubles, so the
// one rounding of the division gives the value strtod gives for the same
// digits.
double exactDecimal(uint64_t mantissa, int scale) {
  return static_cast<double>(mantissa) / kExactPowersOfTen[scale];
}

// The number parsers below are declared inline so that the compiler folds
// them, fast paths first, into copyStringValueToBuffer, which converts
// every field of a loaded file: a call per step costs as much as the step.

// strtol base 10 on the text. Short plain integers are read as one word,
// the rest of the common plain form with from_chars; blanks, a plus sign,
// overflow and text without digits take the C library's path.
inline long parseInteger(const char* text, size_t length) {
  uint64_t digits = 0;
  if (short_number::readDigits(text, length, short_number::kMostBytes, digits)) return static_cast<long>(digits);
  long value = 0;
  const auto result = std::from_chars(text, text + length, value);
  if (result.ec == std::errc()) return value;
  return std::strtol(text, nullptr, 10);
}

// parseInteger that tells a number beyond 64 bits apart: false for one,
// where strtol would give the nearest bound.
inline bool parseInteger64(const char* text, size_t length, long& value) {
  uint64_t digits = 0;
  if (short_number::readDigits(text, length, short_number::kMostBytes, digits)) {
    value = static_cast<long>(digits);
    return true;
  }
  const auto result = std::from_chars(text, text + length, value);
  if (result.ec == std::errc()) return true;
  if (result.ec == std::errc::result_out_of_range) return false;
  errno = 0;
  value = std::strtol(text, nullptr, 10);
  return errno != ERANGE;
}

// Reads the whole text as a plain decimal (an optional minus, digits, an
// optional point and digits) of at most 15 digits. Such a value is an exact
// integer divided by an exact power of ten, and one IEEE division rounds
// that correctly, so the answer is the one strtod gives. False for any
// other text.
inline bool parsePlainDecimal(const char* text, size_t length, double& out) {
  if (short_number::readDouble(text, length, out)) return true;
  uint64_t mantissa = 0;
  int scale = 0;
  const char* c = text;
  const char* const end = text + length;
  const bool negative = c != end && *c == '-';
  if (negative) ++c;
  int digits = 0;
  for (; c != end && isDigit(*c); ++c, ++digits) mantissa = mantissa * 10 + static_cast<uint64_t>(*c - '0');
  if (c != end && *c == '.') {
    for (++c; c != end && isDigit(*c); ++c, ++digits, ++scale) {
      mantissa = mantissa * 10 + static_cast<uint64_t>(*c - '0');
    }
  }
  if (c != end || digits == 0 || digits > 15) return false;
  const double value = exactDecimal(mantissa, scale);
  out = negative ? -value : value;
  return true;
}

// strtod on the text, with the same fast paths; hexadecimal input, which
// from_chars reads only up to its "0x", goes to the C library as well.
inline double parseFloating(const char* text, size_t length) {
  double value = 0;
  if (parsePlainDecimal(text, length, value)) return value;
  const auto result = std::from_chars(text, text + length, value);
  const bool hexadecimal = result.ptr != text + length && (*result.ptr == 'x' || *result.ptr == 'X');
  if (result.ec == std::errc() && !hexadecimal) return value;
  return std::strtod(text, nullptr);
}

// Powers of ten that a float holds exactly, for the scales of a short
// decimal.
constexpr float kExactFloatPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};

// Mantissas up to this are exact floats.
constexpr uint64_t kExactFloatMantissa = uint64_t{1} << 24;

// strtof on the text: read straight to the nearest float, since rounding
// first to a double and then to a float can land on the other neighbour.
// A short decimal whose digits a float holds takes one exact division.
inline float parseFloat(const char* text, size_t length) {
  uint64_t mantissa = 0;
  int scale = 0;
  bool hasPoint = false;
  if (short_number::readDecimal(text, length, mantissa, scale, hasPoint) && mantissa <= kExactFloatMantissa) {
    return static_cast<float>(mantissa) / kExactFloatPowersOfTen[scale];
  }
  float value = 0;
  const auto result = std::from_chars(text, text + length, value);
  const bool hexadecimal = result.ptr != text + length && (*result.ptr == 'x' || *result.ptr == 'X');
  if (result.ec == std::errc() && !hexadecimal) return value;
  return std::strtof(text, nullptr);
}

std::string formatFloating(double value) {
  // "%f" of the largest double needs 309 digits before the point.
  char text[400];
  const int length = std::snprintf(text, sizeof(text), "%f", value);
  return std::string(text, static_cast<size_t>(length));
}

}  // namespace

unsigned short getTypeWidth(DATA_TYPE type) {
  requireValidType(type);
  return kWidths[type];
}

const char* getTypeKeyword(DATA_TYPE type) {
  requireValidType(type);
  return kKeywords[type];
}

bool getTypeFromKeyword(const std::string& keyword, DATA_TYPE& type) {
  for (int candidate = LONG; candidate <= DATE; ++candidate) {
    if (keyword == kKeywords[candidate]) {
      type = static_cast<DATA_TYPE>(candidate);
      return true;
    }
  }
  return false;
}

void copyStringValueToBuffer(const char* text, size_t length, char* dest, DATA_TYPE type) {
  switch (type) {
    case LONG:
      unaligned::store<int64_t>(dest, parseInteger(text, length));
      return;
    case INT:
      unaligned::store<int32_t>(dest, static_cast<int32_t>(parseInteger(text, length)));
      return;
    case SHORT:
      unaligned::store<int16_t>(dest, static_cast<int16_t>(parseInteger(text, length)));
      return;
    case DOUBLE:
      unaligned::store<double>(dest, parseFloating(text, length));
      return;
    case FLOAT:
      unaligned::store<float>(dest, parseFloat(text, length));
      return;
    case STRING:
      requireStringFits(length);
      std::memcpy(dest, text, length + 1);
      return;
    case BOOL:
      unaligned::store<uint8_t>(dest, strob(text, length) ? 1 : 0);
      return;
    case DATE:
      unaligned::store<uint16_t>(dest, dateStringToInt(text, length));
      return;
  }
  throw DatabaseException(kUnknownType);
}

bool copyIntegerInRange(const char* text, size_t length, char* dest, DATA_TYPE type) {
  long value = 0;
  if (!parseInteger64(text, length, value)) return false;
  switch (type) {
    case LONG:
      unaligned::store<int64_t>(dest, value);
      return true;
    case INT:
      if (value < INT32_MIN || value > INT32_MAX) return false;
      unaligned::store<int32_t>(dest, static_cast<int32_t>(value));
      return true;
    case SHORT:
      if (value < INT16_MIN || value > INT16_MAX) return false;
      unaligned::store<int16_t>(dest, static_cast<int16_t>(value));
      return true;
    default:
      throw DatabaseException(kUnknownType);
  }
}

bool readsNumber(const char* text, DATA_TYPE type) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  if (*text == '+' || *text == '-') ++text;
  if (isDigit(*text)) return true;
  if (!isFloating(type)) return false;
  if (*text == '.') return isDigit(text[1]);
  return strncasecmp(text, "nan", 3) == 0 || strncasecmp(text, "inf", 3) == 0;
}

void copyStringValueToBuffer(const char* text, char* dest, DATA_TYPE type) {
  copyStringValueToBuffer(text, std::strlen(text), dest, type);
}

void* stringValueToBuffer(const char* text, DATA_TYPE type) {
  requireValidType(type);
  const size_t length = std::strlen(text);
  if (type == STRING) requireStringFits(length);
  const size_t size = type == STRING ? length + 1 : kWidths[type];
  auto* value = new char[size];
  try {
    copyStringValueToBuffer(text, length, value, type);
  } catch (...) {
    delete[] value;
    throw;
  }
  return value;
}

std::string getStringFromPtr(void* value, DATA_TYPE type) {
  switch (type) {
    case LONG:
      return std::to_string(unaligned::load<int64_t>(value));
    case INT:
      return std::to_string(unaligned::load<int32_t>(value));
    case SHORT:
      return std::to_string(unaligned::load<int16_t>(value));
    case DOUBLE:
      return formatFloating(unaligned::load<double>(value));
    case FLOAT:
      return formatFloating(static_cast<double>(unaligned::load<float>(value)));
    case STRING:
      return std::string(static_cast<const char*>(value));
    case BOOL:
      return std::to_string(static_cast<unsigned>(unaligned::load<uint8_t>(value)));
    case DATE:
      return intToDateString(unaligned::load<uint16_t>(value));
  }
  throw DatabaseException(kUnknownType);
}

std::string getExactStringFromPtr(void* value, DATA_TYPE type) {
  // The shortest form of the largest number, "-1.7976931348623157e+308",
  // and every NaN and infinity fit.
  char text[32];
  std::to_chars_result written;
  if (type == DOUBLE) {
    written = std::to_chars(text, text + sizeof text, unaligned::load<double>(value));
  } else if (type == FLOAT) {
    written = std::to_chars(text, text + sizeof text, unaligned::load<float>(value));
  } else {
    return getStringFromPtr(value, type);
  }
  return std::string(text, written.ptr);
}

bool strob(const char* text, size_t length) {
  // The text, read as one word, is compared with every accepted word, with
  // no branch on its value: random true and false cost no mispredicted
  // jump. Every accepted word has 1 to 5 characters; any other text gets a
  // word of 0, which no accepted word is.
  const uint64_t word = length >= 1 && length <= 8 ? text_bytes::littleWord(text, length) : 0;
  bool isTrue = false;
  bool isFalse = false;
  for (const uint64_t accepted : kTrueWords) isTrue |= word == accepted;
  for (const uint64_t accepted : kFalseWords) isFalse |= word == accepted;
  if (!isTrue && !isFalse) throw DatabaseException(ErrorKind::kLoad, kBadBool, text);
  return isTrue;
}

bool strob(const char* text) { return strob(text, std::strlen(text)); }

unsigned short dateStringToInt(const char* text) { return dateStringToInt(text, std::strlen(text)); }

unsigned short dateStringToInt(const char* text, size_t length) {
  const char* cursor = text;
  while (*cursor == ' ' || (*cursor >= '\t' && *cursor <= '\r')) ++cursor;
  unsigned short plain = 0;
  if (plainDateToInt(cursor, length - static_cast<size_t>(cursor - text), plain)) return plain;
  int year = 0;
  int month = 0;
  int day = 0;
  const bool matched = readDateDigits(cursor, 4, 4, year) && *cursor++ == '-' &&
                       readDateDigits(cursor, 1, 2, month) && *cursor++ == '-' &&
                       readDateDigits(cursor, 1, 2, day) && !isDigit(*cursor);
  const long days = matched ? storedDayNumber(year, month, day) : -1;
  if (days < 0) throw DatabaseException(ErrorKind::kLoad, kBadDate, text);
  return static_cast<unsigned short>(days);
}

bool plainDateToInt(const char* text, size_t length, unsigned short& days) {
  if constexpr (std::endian::native != std::endian::little) return false;
  if (length != 10) return false;
  // "YYYY-MM-" as one word, with the dashes ('-' is 0x2D) in bytes 4 and
  // 7, and "DD"; each digit less '0' is its value.
  const uint64_t head = unaligned::load<uint64_t>(text);
  const uint64_t tail = unaligned::load<uint16_t>(text + sizeof head);
  constexpr uint64_t kDashBytes = 0xFF00'00FF'0000'0000ULL;
  constexpr uint64_t kDashes = 0x2D00'002D'0000'0000ULL;
  if ((head & kDashBytes) != kDashes) return false;
  const uint64_t values = (head ^ everyByte('0')) & ~kDashBytes;
  const uint64_t dayValues = tail ^ (everyByte('0') & 0xFFFF);
  if (!text_bytes::allDigitValues(values) || !text_bytes::allDigitValues(dayValues)) return false;
  const auto digit = [values](int at) { return static_cast<int>((values >> (8 * at)) & 0xFF); };
  const int year = digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3);
  const int month = digit(5) * 10 + digit(6);
  const int day = static_cast<int>(dayValues & 0xFF) * 10 + static_cast<int>(dayValues >> 8);
  const long number = storedDayNumber(year, month, day);
  if (number < 0) return false;
  days = static_cast<unsigned short>(number);
  return true;
}

CivilDate civilFromDays(unsigned short days) {
  // The inverse of daysFromCivil. The year of the era discounts the leap
  // days: one every 1460 days (4 years), none every 36524 (100 years), one
  // again at the era's last day, 146096.
  const long z = days + kEpochFromYearZero;
  const long era = z / kDaysPerEra;
  const long dayOfEra = z - era * kDaysPerEra;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return CivilDate{year, month, day};
}

void intToDateChars(unsigned short days, char out[11]) {
  const CivilDate civil = civilFromDays(days);
  writeDigits(out, civil.year, 4);
  out[4] = '-';
  writeDigits(out + 5, civil.month, 2);
  out[7] = '-';
  writeDigits(out + 8, civil.day, 2);
  out[10] = '\0';
}

std::string intToDateString(unsigned short days) {
  char text[11];
  intToDateChars(days, text);
  return std::string(text, 10);
}
