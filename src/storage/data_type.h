#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

// The value type of a column. A stored value travels as an untyped pointer
// to its storage with the DATA_TYPE beside it; the value carries no tag.
enum DATA_TYPE : int32_t {
  LONG = 1,    // int64_t, 8 bytes
  INT = 2,     // int32_t, 4 bytes
  SHORT = 3,   // int16_t, 2 bytes
  DOUBLE = 4,  // double, 8 bytes
  FLOAT = 5,   // float, 4 bytes
  STRING = 6,  // NUL-terminated text, length + 1 bytes (at most 65535)
  BOOL = 7,    // one byte, 1 or 0
  DATE = 8,    // uint16_t days since 1970-01-01
};

// Storage order of the columns inside a stored row: narrowest type first,
// text last.
inline constexpr DATA_TYPE DATA_TYPE_PRIORITY[] = {BOOL, SHORT, DATE, INT,
                                                   FLOAT, LONG, DOUBLE, STRING};

// True for the eight members of the enumeration.
constexpr bool isValidType(int type) { return type >= LONG && type <= DATE; }

// True for the five number types, integers and floating point.
constexpr bool isNumeric(DATA_TYPE type) {
  return type == LONG || type == INT || type == SHORT || type == DOUBLE || type == FLOAT;
}

// True for DOUBLE and FLOAT.
constexpr bool isFloating(DATA_TYPE type) { return type == DOUBLE || type == FLOAT; }

// Largest stored STRING value, its terminating NUL included.
inline constexpr uint32_t MAX_STRING_BYTES = 65535;

// Day count of the last storable date, 2149-06-06.
inline constexpr uint16_t MAX_DATE_DAYS = 65535;

// Conversions between text and stored values. The text forms are those of
// the C library: integers by strtol base 10, floating-point numbers by
// strtod, or strtof for FLOAT (leading blanks skipped, trailing text
// ignored, no digits gives 0), booleans in eighteen written forms, dates as
// YYYY-MM-DD. Every function that dispatches on a DATA_TYPE throws
// DatabaseException "Unknown data type provided" for a value outside the
// enumeration, before writing anything.

// Stored width in bytes of a fixed-width type; 0 for STRING.
unsigned short getTypeWidth(DATA_TYPE type);
// The keyword naming the type in a column definition ("int", "date", ...).
const char* getTypeKeyword(DATA_TYPE type);
// The type named by a lower-case keyword, compared over its whole length;
// false when no type has that name.
bool getTypeFromKeyword(const std::string& keyword, DATA_TYPE& type);

// Converts text to a new stored value owned by the caller (release with
// delete[]): the type's width in bytes, or length + 1 for STRING.
void* stringValueToBuffer(const char* text, DATA_TYPE type);
// Converts text and writes the stored value at dest, which must have room
// for the type's width (for STRING, the text's length + 1).
void copyStringValueToBuffer(const char* text, char* dest, DATA_TYPE type);
// Same, for a text of known length (its NUL at text[length]), so the text
// is not measured again.
void copyStringValueToBuffer(const char* text, size_t length, char* dest, DATA_TYPE type);
// Converts an integer text for a LONG, INT or SHORT column as
// copyStringValueToBuffer does, but refuses a number outside the type's
// range (false, nothing written) where that keeps its low bits or the
// nearest 64-bit bound. Throws "Unknown data type provided" for other types.
bool copyIntegerInRange(const char* text, size_t length, char* dest, DATA_TYPE type);
// Whether reading the NUL-terminated `text` as a number of the numeric
// `type`, as the conversions above read it, finds one: blanks and a sign,
// then a digit; for DOUBLE and FLOAT also a point and a digit, or nan and
// inf in the forms strtod reads. False for "", "NA", "-", "?" and the like.
bool readsNumber(const char* text, DATA_TYPE type);
// The text form of a stored value.
std::string getStringFromPtr(void* value, DATA_TYPE type);
// The text of a stored value that converts back to the same value, bit for
// bit: DOUBLE and FLOAT in the shortest such form (std::to_chars: "1e-07",
// "0.1", "-0", "nan", "inf"), where getStringFromPtr keeps six decimals;
// every other type as getStringFromPtr writes it.
std::string getExactStringFromPtr(void* value, DATA_TYPE type);

// "true"/"True"/"TRUE"/"yes"/"Yes"/"YES"/"y"/"Y"/"1" and
// "false"/"False"/"FALSE"/"no"/"No"/"NO"/"n"/"N"/"0"; any other text throws
// DatabaseException listing them.
bool strob(const char* text);
// Same, for a text of known length (its NUL at text[length]).
bool strob(const char* text, size_t length);
// Days since 1970-01-01 of a YYYY-MM-DD text: leading blanks are skipped,
// the year has four digits, month and day one or two, and text after the
// day is ignored unless it continues the day's digits. Throws
// DatabaseException for other text, for days the month does not have and
// for dates outside 1970-01-01 .. 2149-06-06.
unsigned short dateStringToInt(const char* text);
// Same, for a text of known length (its NUL at text[length]).
unsigned short dateStringToInt(const char* text, size_t length);
// Days since 1970-01-01 of a text of exactly the ten characters YYYY-MM-DD
// naming a day in range, read as two words with no branch on the digits:
// the fast path of dateStringToInt. False, with `days` untouched, for any
// other text, which dateStringToInt then reads or refuses. The `length`
// bytes at `text` must be readable.
bool plainDateToInt(const char* text, size_t length, unsigned short& days);
// The proleptic Gregorian calendar date of a day count.
struct CivilDate {
  int year;
  int month;  // 1 to 12
  int day;    // 1 to 31
};
CivilDate civilFromDays(unsigned short days);
// The YYYY-MM-DD text of a day count.
std::string intToDateString(unsigned short days);
// Writes the ten characters of YYYY-MM-DD and a NUL into out.
void intToDateChars(unsigned short days, char out[11]);

// Whether the stored value at `value` (possibly unaligned) is NaN; only
// DOUBLE and FLOAT values can be.
inline bool isNanValue(const void* value, DATA_TYPE type) {
  if (type == DOUBLE) {
    double v;
    std::memcpy(&v, value, sizeof v);
    return std::isnan(v);
  }
  if (type == FLOAT) {
    float v;
    std::memcpy(&v, value, sizeof v);
    return std::isnan(v);
  }
  return false;
}

// Whether the stored value at `value` (possibly unaligned) is a zero of
// either sign; only DOUBLE and FLOAT values are.
inline bool isZeroValue(const void* value, DATA_TYPE type) {
  if (type == DOUBLE) {
    double v;
    std::memcpy(&v, value, sizeof v);
    return v == 0;
  }
  if (type == FLOAT) {
    float v;
    std::memcpy(&v, value, sizeof v);
    return v == 0;
  }
  return false;
}

// Writes the zero of DOUBLE or FLOAT at `dest` (room for the type's width),
// -0.0 when `negative`.
inline void storeZero(void* dest, DATA_TYPE type, bool negative) {
  if (type == DOUBLE) {
    const double zero = negative ? -0.0 : 0.0;
    std::memcpy(dest, &zero, sizeof zero);
  } else if (type == FLOAT) {
    const float zero = negative ? -0.0f : 0.0f;
    std::memcpy(dest, &zero, sizeof zero);
  }
}

// Strict weak order on stored values used by every ordered structure: for
// floating-point values it is a total order in which NaN sorts after every
// number and all NaNs are equal; other types use operator<.
template <typename T>
struct ValueLess {
  bool operator()(const T& a, const T& b) const {
    if constexpr (std::is_floating_point_v<T>) {
      if (std::isnan(a)) return false;
      if (std::isnan(b)) return true;
    }
    return a < b;
  }
};
