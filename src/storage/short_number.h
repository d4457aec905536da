#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "storage/text_bytes.h"

// Readers of the short number texts that fill most fields of a loaded file:
// a text of up to eight characters is taken as one word, its digits checked
// and combined by a few multiplications, with no branch on the number's
// length or digits. Each answers false for any other text, which the
// callers then read the C library's way; what they answer is what strtol
// or strtod gives for the same text. The `length` bytes at `text` must be
// readable; no byte after them is read.
namespace short_number {

// Most characters a text read as one word has.
inline constexpr size_t kMostBytes = 8;

// The low `bytes` bytes of a word set, for 0 to 8 bytes: a table, so
// that a mask for any length costs one load.
inline constexpr uint64_t kLowBytes[] = {0,
                                         0xFF,
                                         0xFFFF,
                                         0xFF'FFFF,
                                         0xFFFF'FFFF,
                                         0xFF'FFFF'FFFF,
                                         0xFFFF'FFFF'FFFF,
                                         0xFF'FFFF'FFFF'FFFF,
                                         0xFFFF'FFFF'FFFF'FFFF};

// Every byte of a word set to `byte`.
constexpr uint64_t everyByte(char byte) { return 0x0101'0101'0101'0101ULL * static_cast<unsigned char>(byte); }

// The number that eight digit values spell, the lowest byte most
// significant and led by zero bytes. v * 10 + (v >> 8) makes the even bytes
// 0, 2, 4 and 6 two-digit values p0 to p3; two multiplications then leave
// p0 * 10^6 + p1 * 10^4 + p2 * 10^2 + p3 in the top half of the word:
// kPairs picks p0 and p2 (bytes 0 and 4), scaled by the two halves of
// kFirstPairScales, and, after a shift by two bytes, p1 and p3, scaled by
// kSecondPairScales.
inline uint64_t digitsValue(uint64_t v) {
  v = v * 10 + (v >> 8);
  constexpr uint64_t kPairs = 0x0000'00FF'0000'00FFULL;
  constexpr uint64_t kFirstPairScales = (uint64_t{1000000} << 32) | 100;
  constexpr uint64_t kSecondPairScales = (uint64_t{10000} << 32) | 1;
  return (((v & kPairs) * kFirstPairScales) + (((v >> 16) & kPairs) * kSecondPairScales)) >> 32;
}

// The number written by a text of 1 to `most` decimal digits and nothing
// else: the usual integer field. `most` is at most kMostBytes. `value` is
// untouched when false.
inline bool readDigits(const char* text, size_t length, size_t most, uint64_t& value) {
  // A length of 0 wraps around past every `most`.
  if (length - 1 >= most) return false;
  // Each digit less '0' is its value; no other byte gives 0 to 9.
  const uint64_t values = text_bytes::littleWord(text, length) ^ (everyByte('0') & kLowBytes[length]);
  if (!text_bytes::allDigitValues(values)) return false;
  value = digitsValue(values << (8 * (kMostBytes - length)));
  return true;
}

// Reads a text of 1 to 8 characters made of digits and at most one decimal
// point (at least one digit), as its digits without the point (`mantissa`)
// and the count of digits after the point (`scale`, at most 7): the usual
// number field of a file. The point is found and cut out before the digits
// are read as readDigits reads them.
inline bool readDecimal(const char* text, size_t length, uint64_t& mantissa, int& scale, bool& hasPoint) {
  if (length == 0 || length > kMostBytes) return false;
  const uint64_t word = text_bytes::littleWord(text, length);
  // A byte equal to '.' is zero in `points`. Adding 0x7F to the low seven
  // bits of a byte sets its top bit unless they are zero, and or-ing the
  // byte itself covers a set top bit: after the complement only the bytes
  // that were zero keep their top bit (no carry crosses a byte).
  constexpr uint64_t kLow7 = 0x7F7F'7F7F'7F7F'7F7FULL;
  const uint64_t points = word ^ everyByte('.');
  const uint64_t isPoint = ~(((points & kLow7) + kLow7) | points | kLow7);
  // The top bit of the first point, and the bytes before it: all bytes
  // when there is no point. The bytes after it move down by one, over it.
  const uint64_t firstPoint = isPoint & (0 - isPoint);
  const uint64_t before = (firstPoint >> 7) - 1;
  hasPoint = firstPoint != 0;
  const size_t digits = length - (hasPoint ? 1 : 0);
  const uint64_t joined = (word & before) | ((word >> 8) & ~before);
  // Past the digits `joined` holds zero bytes, left as they are.
  const uint64_t values = joined ^ (everyByte('0') & kLowBytes[digits]);
  if (digits == 0 || !text_bytes::allDigitValues(values)) return false;
  mantissa = digitsValue(values << (8 * (kMostBytes - digits)));
  scale = hasPoint ? static_cast<int>(length - 1) - std::countr_zero(firstPoint) / 8 : 0;
  return true;
}

// Powers of ten up to the largest scale of readDecimal, exact doubles.
inline constexpr double kScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};

// The double of a text readDecimal reads. Its mantissa (at most 8 digits)
// and the power of ten are exact doubles, so the one rounding of the
// division gives the value strtod gives for the same digits.
inline bool readDouble(const char* text, size_t length, double& value) {
  uint64_t mantissa = 0;
  int scale = 0;
  bool hasPoint = false;
  if (!readDecimal(text, length, mantissa, scale, hasPoint)) return false;
  value = static_cast<double>(mantissa) / kScales[scale];
  return true;
}

}  // namespace short_number
