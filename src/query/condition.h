#pragma once

#include <cstddef>
#include <cstdint>

#include "query/row_bits.h"

// The comparison of a condition: v (the row's value) against c (the constant).
enum ConditionType : int32_t {
  EQ = 0,  // v = c
  NE = 1,  // v != c
  LT = 2,  // v < c
  GT = 3,  // v > c
  LE = 4,  // v <= c
  GE = 5,  // v >= c
  IS_NULL = 6,   // the row holds NULL (no constant)
  NOT_NULL = 7,  // the row holds a value (no constant)
};

// One comparison of a where clause: a column of the current row against a
// constant. evaluate() receives the column's value in the form in which the
// row holds it (a category number for a categorised column, the stored value
// for a plain one) and never decodes it; the pointer may be unaligned.
// A NULL has a stored form too (NULL_CATEGORY, or zero bytes and the empty
// text in a plain column): conditions on category numbers answer it
// themselves, and a caller that knows a row holds NULL asks
// evaluateMaybeNull(nullptr) or applies `nullAnswer` to the row's bit.
// A condition is a predicate only: it keeps no answer and knows nothing of
// its place in the clause (the compiled where clause, a
// CombinedBooleanExpression, holds both), so evaluating never changes it.
class Condition {
 public:
  Condition() = default;
  virtual ~Condition() = default;

  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Whether the value at `value` satisfies the condition. Throws
  // DatabaseException "Unsupported select condition operator" for a type
  // the class does not handle.
  virtual bool evaluate(const void* value) const = 0;
  // evaluate(), with a null pointer standing for a NULL: answers
  // `nullAnswer` for it, or the fixed answer of a condition that has one.
  bool evaluateMaybeNull(const void* value) const {
    if (value != nullptr || fixedAnswer) return evaluate(value);
    return nullAnswer;
  }
  // Answers the condition for `count` rows at once: bit i of `bits` (whole
  // 64-bit words, bits past `count` cleared) is set when the fixed-width
  // value (never a text) at base + rows[i] + delta satisfies it. This
  // version calls evaluate() per row; typed conditions run a tight loop.
  virtual void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                            uint64_t* bits) const {
    row_bits::fillEach(count, bits, [&](size_t row) { return evaluate(base + rows[row] + delta); });
  }
  // The same for fixed-width values packed `width` bytes apart from
  // `values`.
  virtual void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const {
    row_bits::fillEach(count, bits, [&](size_t row) { return evaluate(values + row * width); });
  }
  // The same for texts: bit i is set when the NUL-terminated text at
  // texts[i] satisfies the condition.
  virtual void evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) const {
    row_bits::fillEach(count, bits, [&](size_t row) { return evaluate(texts[row]); });
  }

  // Column read, in the numbering of the result set that evaluates it.
  unsigned short column = 0;
  // Set for a stand-in whose evaluate() gives the same answer for every
  // row, NULL or not, reading no value: filtering never reads its column.
  bool fixedAnswer = false;
  // Answer for a row whose value is NULL: true only for IS_NULL, as every
  // comparison with NULL is false.
  bool nullAnswer = false;
  ConditionType type = EQ;
};
