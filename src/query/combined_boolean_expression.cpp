#include "query/combined_boolean_expression.h"

#include "query/simple_boolean_expression.h"

CombinedBooleanExpression::~CombinedBooleanExpression() {
  std::vector<BooleanExpresssion*> pending = std::move(children);
  children.clear();
  while (!pending.empty()) {
    BooleanExpresssion* expression = pending.back();
    pending.pop_back();
    if (CombinedBooleanExpression* group = expression->asGroup()) {
      pending.insert(pending.end(), group->children.begin(), group->children.end());
      group->children.clear();
    }
    delete expression;
  }
}

void CombinedBooleanExpression::addChild(std::unique_ptr<BooleanExpresssion> child) {
  children.push_back(child.get());
  child.release();
}

std::unique_ptr<CombinedBooleanExpression> CombinedBooleanExpression::build(
    const std::vector<Condition*>& conditions) {
  auto root = std::make_unique<CombinedBooleanExpression>();
  std::vector<CombinedBooleanExpression*> enclosing;
  CombinedBooleanExpression* current = root.get();
  const Condition* previous = nullptr;
  for (const Condition* condition : conditions) {
    const size_t base = condition->level >= condition->openBrackets
                            ? condition->level - condition->openBrackets
                            : 0;
    while (enclosing.size() > base) {
      current->boolOperator = previous->boolOperator;
      current = enclosing.back();
      enclosing.pop_back();
    }
    while (enclosing.size() < condition->level) {
      auto group = std::make_unique<CombinedBooleanExpression>();
      CombinedBooleanExpression* opened = group.get();
      current->addChild(std::move(group));
      enclosing.push_back(current);
      current = opened;
    }
    current->addChild(std::make_unique<SimpleBooleanExpression>(
        &condition->result, condition->boolOperator, &condition->unknown));
    previous = condition;
  }
  return root;
}

namespace {

// What a group does after one of its children gave `value`.
struct Step {
  bool done;    // the group's answer is known
  bool answer;  // that answer, when done
  size_t next;  // otherwise the child to evaluate next
};

Step advance(const std::vector<BooleanExpresssion*>& children, size_t index, bool value) {
  const size_t last = children.size() - 1;
  const bool isOr = children[index]->boolOperator == OR;
  if (value) {
    if (isOr || index == last) {
      return {true, true, 0};
    }
    return {false, false, index + 1};
  }
  if (isOr) {
    if (index == last) {
      return {true, false, 0};
    }
    return {false, false, index + 1};
  }
  // A false member makes its "and" chain false: skip to after the chain's
  // closing "or".
  for (size_t j = index + 1; j <= last; ++j) {
    if (children[j]->boolOperator == OR) {
      if (j == last) {
        return {true, false, 0};
      }
      return {false, false, j + 1};
    }
  }
  return {true, false, 0};
}

Truth andOf(Truth a, Truth b) {
  if (a == Truth::False || b == Truth::False) return Truth::False;
  return a == Truth::True && b == Truth::True ? Truth::True : Truth::Unknown;
}

Truth orOf(Truth a, Truth b) {
  if (a == Truth::True || b == Truth::True) return Truth::True;
  return a == Truth::False && b == Truth::False ? Truth::False : Truth::Unknown;
}

}  // namespace

Truth CombinedBooleanExpression::evaluatePartial() {
  // A group is the "or" of its "and" chains; a chain ends at a member whose
  // connector is "or", and at the last member whatever its connector.
  partialStack_.clear();
  partialStack_.push_back({this, 0, Truth::False, Truth::True});
  while (true) {
    PartialFrame& frame = partialStack_.back();
    const std::vector<BooleanExpresssion*>& members = frame.group->children;
    if (frame.index == members.size()) {
      const Truth value = members.empty() ? Truth::True : frame.groupValue;
      partialStack_.pop_back();
      if (partialStack_.empty()) return value;
      PartialFrame& parent = partialStack_.back();
      const std::vector<BooleanExpresssion*>& siblings = parent.group->children;
      parent.chainValue = andOf(parent.chainValue, value);
      if (siblings[parent.index]->boolOperator == OR || parent.index + 1 == siblings.size()) {
        parent.groupValue = orOf(parent.groupValue, parent.chainValue);
        parent.chainValue = Truth::True;
      }
      ++parent.index;
      continue;
    }
    BooleanExpresssion* member = members[frame.index];
    if (CombinedBooleanExpression* group = member->asGroup()) {
      partialStack_.push_back({group, 0, Truth::False, Truth::True});
      continue;
    }
    frame.chainValue = andOf(frame.chainValue, member->evaluatePartial());
    if (member->boolOperator == OR || frame.index + 1 == members.size()) {
      frame.groupValue = orOf(frame.groupValue, frame.chainValue);
      frame.chainValue = Truth::True;
    }
    ++frame.index;
  }
}

bool CombinedBooleanExpression::evaluate() {
  if (children.empty()) {
    return true;
  }
  stack_.clear();
  stack_.push_back({this, 0});
  while (true) {
    BooleanExpresssion* child = stack_.back().group->children[stack_.back().index];
    CombinedBooleanExpression* group = child->asGroup();
    if (group != nullptr && !group->children.empty()) {
      stack_.push_back({group, 0});
      continue;
    }
    bool value = group != nullptr ? true : child->evaluate();
    while (true) {
      Frame& frame = stack_.back();
      const Step step = advance(frame.group->children, frame.index, value);
      if (!step.done) {
        frame.index = step.next;
        break;
      }
      stack_.pop_back();
      if (stack_.empty()) {
        return step.answer;
      }
      value = step.answer;
    }
  }
}
