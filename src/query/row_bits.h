#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Answers of one condition for a block of rows, as bits: bit i of word i / 64
// is row i's answer. The helpers below fill such masks from the rows' values
// in one tight loop per condition, with the comparison known at compile
// time.
namespace row_bits {

// Words that hold `count` bits.
inline size_t wordsFor(size_t count) { return (count + 63) / 64; }

// Sets bit i when `test` holds for the T stored (possibly unaligned) at
// base + rows[i] + delta; every word of the mask is written, bits past
// `count` cleared.
template <typename T, typename Test>
void fill(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count, uint64_t* bits, Test test) {
  for (size_t first = 0; first < count; first += 64) {
    const size_t last = std::min(count, first + 64);
    uint64_t word = 0;
    for (size_t row = first; row < last; ++row) {
      T value;
      std::memcpy(&value, base + rows[row] + delta, sizeof(T));
      word |= static_cast<uint64_t>(test(value) ? 1 : 0) << (row - first);
    }
    bits[first / 64] = word;
  }
}

// The same over values packed one after another from `values`.
template <typename T, typename Test>
void fillDense(const char* values, size_t count, uint64_t* bits, Test test) {
  for (size_t first = 0; first < count; first += 64) {
    const size_t last = std::min(count, first + 64);
    uint64_t word = 0;
    for (size_t row = first; row < last; ++row) {
      T value;
      std::memcpy(&value, values + row * sizeof(T), sizeof(T));
      word |= static_cast<uint64_t>(test(value) ? 1 : 0) << (row - first);
    }
    bits[first / 64] = word;
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
