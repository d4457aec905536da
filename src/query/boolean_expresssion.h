#pragma once

#include "query/condition.h"

class CombinedBooleanExpression;

// A truth value that may not be known yet: filtering decides whole groups of
// rows from the conditions whose answers are the same for every row of the
// group, and leaves the others unknown.
enum class Truth : unsigned char { False, True, Unknown };

// A node of the expression tree that combines the stored answers of a where
// clause's conditions. The tree is built per filtering run and reads the
// conditions' `result` fields; the conditions must outlive it.
class BooleanExpresssion {
 public:
  BooleanExpresssion() = default;
  virtual ~BooleanExpresssion() = default;

  BooleanExpresssion(const BooleanExpresssion&) = delete;
  BooleanExpresssion& operator=(const BooleanExpresssion&) = delete;

  // Truth value from the conditions' stored answers.
  virtual bool evaluate() = 0;
  // The same where some answers may be unknown (Condition::unknown).
  virtual Truth evaluatePartial() { return Truth::Unknown; }
  // This node as a bracketed group, or null for a single condition; lets
  // the tree be walked without recursion.
  virtual CombinedBooleanExpression* asGroup() { return nullptr; }

  // Connector joining this node to the next one in its group.
  BoolOperator boolOperator = AND;
};
