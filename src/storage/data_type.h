#pragma once

#include <cstdint>

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
