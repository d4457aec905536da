#include "query/block_filter.h"

#include <algorithm>

#include "errors/database_exception.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/simple_boolean_expression.h"

void BlockFilter::prepare(CombinedBooleanExpression& root, const std::vector<Condition*>& conditions) {
  program_.clear();
  // Walks the tree without recursion: a stack of groups and the member each
  // is at, the root standing alone.
  struct Frame {
    CombinedBooleanExpression* group;
    size_t index;
    bool endsChain;  // how the group itself ends in its parent
  };
  std::vector<Frame> stack{{&root, 0, true}};
  program_.push_back({Op::Open, false});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const std::vector<BooleanExpresssion*>& members = frame.group->children;
    if (frame.index == members.size()) {
      program_.push_back({Op::Close, frame.endsChain});
      stack.pop_back();
      continue;
    }
    BooleanExpresssion* member = members[frame.index];
    const bool endsChain = member->boolOperator == OR || frame.index + 1 == members.size();
    ++frame.index;
    if (CombinedBooleanExpression* group = member->asGroup()) {
      program_.push_back({Op::Open, false});
      stack.push_back({group, 0, endsChain});
      continue;
    }
    const bool* result = static_cast<SimpleBooleanExpression*>(member)->conditionResult();
    const auto leaf = std::find_if(conditions.begin(), conditions.end(),
                                   [result](const Condition* c) { return &c->result == result; });
    if (leaf == conditions.end()) throw DatabaseException("Expression refers to an unknown condition");
    program_.push_back({Op::Leaf, endsChain, static_cast<size_t>(leaf - conditions.begin())});
  }
}

void BlockFilter::open(size_t depth, size_t words) {
  if (levels_.size() <= depth) levels_.resize(depth + 1);
  Level& level = levels_[depth];
  level.group.assign(words, 0);
  level.chain.assign(words, ~uint64_t{0});
  level.empty = true;
}

void BlockFilter::addMember(Level& level, const uint64_t* value, size_t words, bool endsChain) {
  level.empty = false;
  for (size_t w = 0; w < words; ++w) level.chain[w] &= value[w];
  if (!endsChain) return;
  for (size_t w = 0; w < words; ++w) {
    level.group[w] |= level.chain[w];
    level.chain[w] = ~uint64_t{0};
  }
}

uint64_t* BlockFilter::combine(const std::vector<std::vector<uint64_t>>& masks, size_t words) {
  // The root's Open is at depth 0; the depth of a step is that of its group.
  size_t depth = 0;
  bool first = true;
  for (const Step& step : program_) {
    switch (step.op) {
      case Op::Open:
        if (!first) ++depth;
        first = false;
        open(depth, words);
        break;
      case Op::Leaf:
        addMember(levels_[depth], masks[step.condition].data(), words, step.endsChain);
        break;
      case Op::Close: {
        Level& closed = levels_[depth];
        // An empty group holds for every row.
        if (closed.empty) std::fill(closed.group.begin(), closed.group.end(), ~uint64_t{0});
        if (depth == 0) return closed.group.data();
        --depth;
        addMember(levels_[depth], closed.group.data(), words, step.endsChain);
        break;
      }
    }
  }
  throw DatabaseException("Unbalanced filter program");
}
