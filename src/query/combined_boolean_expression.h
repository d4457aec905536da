#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "query/boolean_expresssion.h"

class Condition;

// A bracketed group of expressions, or the whole where clause at the root.
// Owns its children. "and" binds more tightly than "or"; evaluation runs left
// to right and skips children whose value cannot change the answer. Walking,
// evaluating and destroying the tree use explicit stacks, so arbitrarily deep
// bracket nesting cannot overflow the call stack.
class CombinedBooleanExpression : public BooleanExpresssion {
 public:
  CombinedBooleanExpression() = default;
  ~CombinedBooleanExpression() override;

  // Builds the tree of a condition list in query order. Each condition first
  // closes the groups down to depth (level - openBrackets), then opens groups
  // up to its level; a closed group takes the connector of the last
  // condition inside it. The conditions must outlive the tree.
  static std::unique_ptr<CombinedBooleanExpression> build(
      const std::vector<Condition*>& conditions);

  bool evaluate() override;
  // Three-valued evaluation: "and" of a false member is false and "or" of a
  // true member is true even when other members are unknown. Agrees with
  // evaluate() whenever every answer is known.
  Truth evaluatePartial() override;
  CombinedBooleanExpression* asGroup() override { return this; }

  // Appends `child`, taking ownership.
  void addChild(std::unique_ptr<BooleanExpresssion> child);

  // Owned children in query order.
  std::vector<BooleanExpresssion*> children;

 private:
  // A group being evaluated and the child it is at.
  struct Frame {
    CombinedBooleanExpression* group;
    size_t index;
  };
  // A group being evaluated three-valued: the child it is at, the "or" of
  // its finished chains and the "and" of the chain it is in.
  struct PartialFrame {
    CombinedBooleanExpression* group;
    size_t index;
    Truth groupValue;
    Truth chainValue;
  };
  // Reused by evaluate() so that evaluating a row allocates nothing.
  std::vector<Frame> stack_;
  std::vector<PartialFrame> partialStack_;
};
