#pragma once

#include "query/boolean_expresssion.h"

// One condition in the expression tree: reads the condition's last answer.
class SimpleBooleanExpression : public BooleanExpresssion {
 public:
  // `conditionUnknown`, when given, is the condition's `unknown` flag.
  SimpleBooleanExpression(const bool* conditionResult, BoolOperator op,
                          const bool* conditionUnknown = nullptr)
      : result_(conditionResult), unknown_(conditionUnknown) {
    boolOperator = op;
  }

  bool evaluate() override { return *result_; }

  // The `result` field of the condition read.
  const bool* conditionResult() const { return result_; }

  Truth evaluatePartial() override {
    if (unknown_ != nullptr && *unknown_) return Truth::Unknown;
    return *result_ ? Truth::True : Truth::False;
  }

 private:
  const bool* result_;   // the condition's `result` field, not owned
  const bool* unknown_;  // the condition's `unknown` field, not owned; may be null
};
