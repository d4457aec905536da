#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// The connector written after a condition, joining it to the next one. Only
// OR is tested for; every other value acts as AND.
enum BoolOperator : int32_t {
  AND = 0,
  OR = 1,
  NONE = 2,  // the last condition of the clause
};

// One comparison of a where clause: a column of the current row against a
// constant. evaluate() receives the column's value in the form in which the
// row holds it (a category number for a categorised column, the stored value
// for a plain one) and never decodes it; the pointer may be unaligned.
// A NULL has a stored form too (NULL_CATEGORY, or zero bytes and the empty
// text in a plain column): conditions on category numbers answer it
// themselves, and a caller that knows a row holds NULL asks
// evaluateMaybeNull(nullptr) or applies `nullAnswer` to the row's bit.
// Conditions are owned by the result-set factory; the compiled where clause
// (CombinedBooleanExpression) reads their `result` and `unknown` fields.
class Condition {
 public:
  Condition() = default;
  virtual ~Condition() = default;

  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Compares the value at `value` with the constant, stores the answer in
  // `result` and returns it. Throws DatabaseException "Unsupported select
  // condition operator" for a type the class does not handle.
  virtual bool evaluate(const void* value) = 0;
  // evaluate(), with a null pointer standing for a NULL: answers
  // `nullAnswer` for it, or `result` for a condition with a fixed answer.
  bool evaluateMaybeNull(const void* value) {
    if (value != nullptr) return evaluate(value);
    if (!fixedAnswer) result = nullAnswer;
    return result;
  }
  // Answers the condition for `count` rows at once: bit i of `bits` (whole
  // 64-bit words, bits past `count` cleared) is set when the fixed-width
  // value (never a text) at base + rows[i] + delta satisfies it. `result` is left unspecified. This
  // version calls evaluate() per row; typed conditions run a tight loop.
  virtual void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count, uint64_t* bits) {
    row_bits::fillEach(count, bits, [&](size_t row) { return evaluate(base + rows[row] + delta); });
  }
  // The same for fixed-width values packed `width` bytes apart from
  // `values`.
  virtual void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) {
    row_bits::fillEach(count, bits, [&](size_t row) { return evaluate(values + row * width); });
  }
  // The same for texts: bit i is set when the NUL-terminated text at
  // texts[i] satisfies the condition.
  virtual void evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) {
    row_bits::fillEach(count, bits, [&](size_t row) { return evaluate(texts[row]); });
  }

  // Column read, in the numbering of the result set that evaluates it.
  unsigned short column = 0;
  // Number of brackets enclosing the condition.
  unsigned short level = 0;
  // Connector written after the condition.
  BoolOperator boolOperator = NONE;
  // Answer of the last evaluate().
  bool result = false;
  // Set while filtering when `result` does not hold this row's answer yet;
  // read by partial evaluation of the where clause.
  bool unknown = false;
  // Set for a stand-in whose answer is `result` for every row, NULL or
  // not: filtering neither reads its column nor asks it.
  bool fixedAnswer = false;
  // Answer for a row whose value is NULL: true only for IS_NULL, as every
  // comparison with NULL is false.
  bool nullAnswer = false;
  ConditionType type = EQ;
  // Brackets opened directly before the condition; tells adjacent groups
  // such as "(a or b) and (c or d)" apart.
  unsigned short openBrackets = 0;
};

// Clears the `unknown` flags of a list of conditions when it goes out of
// scope, so that filtering leaves none set however it ends. The list must
// outlive it.
class UnknownFlags {
 public:
  explicit UnknownFlags(const std::vector<Condition*>& conditions) : conditions_(conditions) {}
  ~UnknownFlags() {
    for (Condition* condition : conditions_) condition->unknown = false;
  }
  UnknownFlags(const UnknownFlags&) = delete;
  UnknownFlags& operator=(const UnknownFlags&) = delete;

 private:
  const std::vector<Condition*>& conditions_;
};
