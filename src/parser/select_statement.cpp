// WhereClause: builds the bracket tree of a where clause condition by
// condition; WrittenCondition and SelectItem: the texts that messages and
// headers quote.

#include "parser/select_statement.h"

#include <utility>

std::string SelectItem::text() const { return aggregate() ? function + "(" + column + ")" : column; }

std::string WrittenCondition::text() const {
  return column + " " + op + (negated ? " not " : " ") + value;
}

void WhereClause::add(WrittenCondition condition, size_t opens, size_t closes, bool orNext) {
  for (size_t k = 0; k < opens; ++k) {
    open_.push_back(nodes.size());
    nodes.push_back({open_[open_.size() - 2], WhereNode::kGroup, false});
  }
  nodes.push_back({open_.back(), conditions.size(), orNext});
  for (size_t k = 0; k < closes; ++k) {
    if (open_.size() == 1) {
      if (strayCloseAfter == kNone) strayCloseAfter = conditions.size();
      break;
    }
    nodes[open_.back()].orNext = orNext;
    open_.pop_back();
  }
  conditions.push_back(std::move(condition));
  unclosed = open_.size() - 1;
}
