#pragma once

#include "query/condition.h"

class CombinedBooleanExpression;

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
  // This node as a bracketed group, or null for a single condition; lets
  // the tree be walked without recursion.
  virtual CombinedBooleanExpression* asGroup() { return nullptr; }

  // Connector joining this node to the next one in its group.
  BoolOperator boolOperator = AND;
};
