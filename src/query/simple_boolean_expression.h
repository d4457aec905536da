#pragma once

#include "query/boolean_expresssion.h"

// One condition in the expression tree: reads the condition's last answer.
class SimpleBooleanExpression : public BooleanExpresssion {
 public:
  SimpleBooleanExpression(const bool* conditionResult, BoolOperator op)
      : result_(conditionResult) {
    boolOperator = op;
  }

  bool evaluate() override { return *result_; }

 private:
  const bool* result_;  // the condition's `result` field, not owned
};
