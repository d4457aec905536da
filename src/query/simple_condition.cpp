// SimpleCondition: the constant against stored bytes; equality on 1, 2, 4 or 8
// bytes is one integer compare, and texts compare as strcmp does.

#include "query/simple_condition.h"

#include <algorithm>
#include <cstring>

#include "errors/database_exception.h"
#include "query/row_bits.h"

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

bool SimpleCondition::evaluate(const void* value) const {
  const int d = compareBytes(reinterpret_cast<const unsigned char*>(value_.get()),
                             static_cast<const unsigned char*>(value), length_);
  switch (type) {
    case EQ:
      return d == 0;
    case NE:
      return d != 0;
    case LT:
      return d > 0;
    case GT:
      return d < 0;
    case LE:
      return d >= 0;
    case GE:
      return d <= 0;
    default:
      throw DatabaseException("Unsupported select condition operator");
  }
}

namespace {

// Masks equality (or, with `equal` false, inequality) of the W-byte values
// at the rows with the constant's bytes.
template <typename W>
void fillEquality(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count, uint64_t* bits,
                  const char* constantBytes, bool equal) {
  W constant;
  std::memcpy(&constant, constantBytes, sizeof(W));
  if (equal) {
    row_bits::fill<W>(base, rows, delta, count, bits, [constant](W v) { return v == constant; });
  } else {
    row_bits::fill<W>(base, rows, delta, count, bits, [constant](W v) { return v != constant; });
  }
}

template <typename W>
void fillDenseEquality(const char* values, size_t count, uint64_t* bits, const char* constantBytes, bool equal) {
  W constant;
  std::memcpy(&constant, constantBytes, sizeof(W));
  if (equal) {
    row_bits::fillDense<W>(values, count, bits, [constant](W v) { return v == constant; });
  } else {
    row_bits::fillDense<W>(values, count, bits, [constant](W v) { return v != constant; });
  }
}

}  // namespace

void SimpleCondition::evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const {
  if ((type != EQ && type != NE) || width != length_) {
    Condition::evaluateDense(values, width, count, bits);
    return;
  }
  const bool equal = type == EQ;
  switch (length_) {
    case 1:
      fillDenseEquality<uint8_t>(values, count, bits, value_.get(), equal);
      return;
    case 2:
      fillDenseEquality<uint16_t>(values, count, bits, value_.get(), equal);
      return;
    case 4:
      fillDenseEquality<uint32_t>(values, count, bits, value_.get(), equal);
      return;
    case 8:
      fillDenseEquality<uint64_t>(values, count, bits, value_.get(), equal);
      return;
    default:
      Condition::evaluateDense(values, width, count, bits);
  }
}

void SimpleCondition::evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                                   uint64_t* bits) const {
  if (type != EQ && type != NE) {
    Condition::evaluateRows(base, rows, delta, count, bits);
    return;
  }
  const bool equal = type == EQ;
  switch (length_) {
    case 1:
      fillEquality<uint8_t>(base, rows, delta, count, bits, value_.get(), equal);
      return;
    case 2:
      fillEquality<uint16_t>(base, rows, delta, count, bits, value_.get(), equal);
      return;
    case 4:
      fillEquality<uint32_t>(base, rows, delta, count, bits, value_.get(), equal);
      return;
    case 8:
      fillEquality<uint64_t>(base, rows, delta, count, bits, value_.get(), equal);
      return;
    default:
      Condition::evaluateRows(base, rows, delta, count, bits);
  }
}

namespace {

// Masks the texts for which `keep` accepts the sign of constant minus text.
template <typename Keep>
void fillTexts(const char* const* texts, size_t count, uint64_t* bits, const unsigned char* constant,
               unsigned short length, Keep keep) {
  for (size_t first = 0; first < count; first += 64) {
    uint64_t word = 0;
    const size_t end = std::min(count, first + 64);
    for (size_t row = first; row < end; ++row) {
      const int d = compareBytes(constant, reinterpret_cast<const unsigned char*>(texts[row]), length);
      word |= static_cast<uint64_t>(keep(d) ? 1 : 0) << (row - first);
    }
    bits[first / 64] = word;
  }
}

}  // namespace

void SimpleCondition::evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) const {
  const auto* constant = reinterpret_cast<const unsigned char*>(value_.get());
  switch (type) {
    case EQ:
      return fillTexts(texts, count, bits, constant, length_, [](int d) { return d == 0; });
    case NE:
      return fillTexts(texts, count, bits, constant, length_, [](int d) { return d != 0; });
    case LT:
      return fillTexts(texts, count, bits, constant, length_, [](int d) { return d > 0; });
    case GT:
      return fillTexts(texts, count, bits, constant, length_, [](int d) { return d < 0; });
    case LE:
      return fillTexts(texts, count, bits, constant, length_, [](int d) { return d >= 0; });
    case GE:
      return fillTexts(texts, count, bits, constant, length_, [](int d) { return d <= 0; });
    default:
      Condition::evaluateTexts(texts, count, bits);
  }
}
