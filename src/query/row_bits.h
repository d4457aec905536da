#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Answers of one condition for a block of rows, as bits: bit i of word i / 64
// is row i's answer. The helpers below fill such masks from the rows' values
// in one tight loop per condition, with the comparison known at compile
// time.
namespace row_bits {

// Words that hold `count` bits.
inline size_t wordsFor(size_t count) { return (count + 63) / 64; }

// Sets bit i when test(i) holds, for i in [0, count); every word of the
// mask is written, bits past `count` cleared.
template <typename Test>
void fillEach(size_t count, uint64_t* bits, Test test) {
  for (size_t first = 0; first < count; first += 64) {
    const size_t last = std::min(count, first + 64);
    uint64_t word = 0;
    for (size_t i = first; i < last; ++i) word |= static_cast<uint64_t>(test(i) ? 1 : 0) << (i - first);
    bits[first / 64] = word;
  }
}

// Sets bit i when `test` holds for the T stored (possibly unaligned) at
// base + rows[i] + delta; every word of the mask is written, bits past
// `count` cleared.
template <typename T, typename Test>
void fill(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count, uint64_t* bits, Test test) {
  fillEach(count, bits, [&](size_t row) {
    T value;
    std::memcpy(&value, base + rows[row] + delta, sizeof(T));
    return test(value);
  });
}

namespace detail {

// Bit i is set when byte i of the 64 bytes at `answers` has its top bit set.
inline uint64_t topBits(const uint8_t* answers) {
  uint64_t word = 0;
#if defined(__SSE2__)
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(answers + 16 * part));
    word |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes))) << (16 * part);
  }
#else
  for (unsigned i = 0; i < 64; ++i) word |= static_cast<uint64_t>(answers[i] >> 7) << i;
#endif
  return word;
}

// The mask of `count` (at most 64) values packed from `values`, one bit
// after another.
template <typename T, typename Test>
uint64_t denseWord(const char* values, size_t count, Test test) {
  uint64_t word = 0;
  for (size_t row = 0; row < count; ++row) {
    T value;
    std::memcpy(&value, values + row * sizeof(T), sizeof(T));
    word |= static_cast<uint64_t>(test(value) ? 1 : 0) << row;
  }
  return word;
}

// The same for exactly 64 values of at most four bytes: the answers go to a
// byte each first, a loop the compiler turns into vector compares, and are
// then gathered into the word sixteen at a time.
template <typename T, typename Test>
uint64_t denseWord64(const char* values, Test test) {
  alignas(16) uint8_t answers[64];
  for (size_t row = 0; row < 64; ++row) {
    T value;
    std::memcpy(&value, values + row * sizeof(T), sizeof(T));
    answers[row] = test(value) ? 0x80 : 0;
  }
  return topBits(answers);
}

}  // namespace detail

// The same over values packed one after another from `values`.
template <typename T, typename Test>
void fillDense(const char* values, size_t count, uint64_t* bits, Test test) {
  size_t first = 0;
  // Eight-byte values gain nothing from the byte answers: SSE2 has no
  // cheap way to narrow their compare results.
  if constexpr (sizeof(T) <= 4) {
    for (; count - first >= 64; first += 64) {
      bits[first / 64] = detail::denseWord64<T>(values + first * sizeof(T), test);
    }
  }
  for (; first < count; first += 64) {
    bits[first / 64] = detail::denseWord<T>(values + first * sizeof(T), std::min<size_t>(64, count - first), test);
  }
}

// Calls `run` with the test of a range comparison of type `type` (LT, GT,
// LE, GE) against `constant`; false for any other type.
template <typename T, typename Type, typename Run>
bool withRangeTest(Type type, T constant, Type lt, Type gt, Type le, Type ge, Run run) {
  if (type == lt) {
    run([constant](T v) { return v < constant; });
  } else if (type == gt) {
    run([constant](T v) { return v > constant; });
  } else if (type == le) {
    run([constant](T v) { return v <= constant; });
  } else if (type == ge) {
    run([constant](T v) { return v >= constant; });
  } else {
    return false;
  }
  return true;
}

// Fills the mask for a range comparison of type `type` (LT, GT, LE, GE)
// against `constant`; false for any other type.
template <typename T, typename Type>
bool fillRange(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count, uint64_t* bits, Type type,
               T constant, Type lt, Type gt, Type le, Type ge) {
  const auto run = [&](auto test) { fill<T>(base, rows, delta, count, bits, test); };
  return withRangeTest<T>(type, constant, lt, gt, le, ge, run);
}

// The same over values packed one after another from `values`.
template <typename T, typename Type>
bool fillRangeDense(const char* values, size_t count, uint64_t* bits, Type type, T constant, Type lt, Type gt,
                    Type le, Type ge) {
  const auto run = [&](auto test) { fillDense<T>(values, count, bits, test); };
  return withRangeTest<T>(type, constant, lt, gt, le, ge, run);
}

}  // namespace row_bits
