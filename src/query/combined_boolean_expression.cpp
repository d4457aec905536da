// The where clause compiled into one flat program of "or"s of "and" chains,
// and the one interpreter that answers it for a row, three-valued, or a block.

#include "query/combined_boolean_expression.h"

#include <algorithm>
#include <type_traits>

#include "query/row_bits.h"

namespace {

// Ands the `words` words of `value` into the chain of the group whose words
// start at `group` (the group's "or", then its chain's "and"); a member that
// ends the chain ors the chain into the group and starts the next one.
template <typename Width>
void addMember(uint64_t* group, const uint64_t* value, Width words, bool endsChain) {
  uint64_t* const chain = group + words;
  for (size_t w = 0; w < words; ++w) chain[w] &= value[w];
  if (!endsChain) return;
  for (size_t w = 0; w < words; ++w) {
    group[w] |= chain[w];
    chain[w] = ~uint64_t{0};
  }
}

// The width of a run over one word, known when compiling.
using OneWord = std::integral_constant<size_t, 1>;

}  // namespace

CombinedBooleanExpression::CombinedBooleanExpression() : CombinedBooleanExpression(std::vector<ClauseNode>(1)) {}

CombinedBooleanExpression::CombinedBooleanExpression(const std::vector<ClauseNode>& tree) {
  program_.push_back({Op::Open, false, false, 0});
  std::vector<size_t> open{0};  // the open groups' nodes, the root first
  size_t leaves = 0;
  for (size_t n = 1; n < tree.size(); ++n) {
    const ClauseNode& node = tree[n];
    for (; open.back() != node.parent; open.pop_back()) close(tree[open.back()].orNext);
    if (node.leaf == ClauseNode::kGroup) {
      program_.push_back({Op::Open, false, false, 0});
      open.push_back(n);
      levels_ = std::max(levels_, open.size());
      continue;
    }
    program_.push_back({Op::Leaf, node.orNext, false, node.leaf});
    leaves = std::max(leaves, node.leaf + 1);
  }
  // Groups still open at the end are the last members of their parents.
  for (; open.size() > 1; open.pop_back()) close(false);
  close(true);
  work_.resize(2 * levels_);
  answers_.resize(leaves, kKnownFalse);
}

void CombinedBooleanExpression::andWith(size_t leaf) {
  program_.back().endsChain = false;
  program_.insert(program_.begin(), {Op::Open, false, false, 0});
  program_.push_back({Op::Leaf, false, false, leaf});
  close(true);
  ++levels_;
  work_.resize(2 * levels_);
  answers_.resize(std::max(answers_.size(), leaf + 1), kKnownFalse);
}

void CombinedBooleanExpression::close(bool endsChain) {
  Step& last = program_.back();
  const bool empty = last.op == Op::Open;
  if (!empty) last.endsChain = true;
  program_.push_back({Op::Close, endsChain, empty, 0});
}

template <typename Width, typename Leaf>
void CombinedBooleanExpression::run(Width words, Leaf leaf, uint64_t* out) {
  uint64_t* const levels = work_.data();
  size_t open = 0;
  for (const Step& step : program_) {
    if (step.op == Op::Open) {
      uint64_t* const group = levels + 2 * words * open++;
      std::fill_n(group, words, uint64_t{0});
      std::fill_n(group + words, words, ~uint64_t{0});
      continue;
    }
    uint64_t* const inner = levels + 2 * words * (open - 1);
    if (step.op == Op::Leaf) {
      addMember(inner, leaf(step.leaf), words, step.endsChain);
      continue;
    }
    if (step.emptyGroup) std::fill_n(inner, words, ~uint64_t{0});
    if (--open == 0) {
      std::copy_n(inner, words, out);
      return;
    }
    addMember(inner - 2 * words, inner, words, step.endsChain);
  }
}

bool CombinedBooleanExpression::evaluate() {
  uint64_t answer = 0;
  run(OneWord{}, [this](size_t k) { return &answers_[k]; }, &answer);
  return (answer & 1) != 0;
}

Truth CombinedBooleanExpression::evaluatePartial() {
  uint64_t answer = 0;
  run(OneWord{}, [this](size_t k) { return &answers_[k]; }, &answer);
  answer &= kKnownTrue;
  if (answer == kKnownTrue) return Truth::True;
  return answer == kKnownFalse ? Truth::False : Truth::Unknown;
}

const uint64_t* CombinedBooleanExpression::combine(const std::vector<std::vector<uint64_t>>& masks, size_t rows) {
  const size_t words = row_bits::wordsFor(rows);
  combined_.resize(words);
  work_.resize(std::max(work_.size(), 2 * std::min(words, kChunkWords) * levels_));
  // The leaves of a run from word `first` on.
  const auto from = [&masks](size_t first) { return [&masks, first](size_t k) { return masks[k].data() + first; }; };
  size_t first = 0;
  for (; first + kChunkWords <= words; first += kChunkWords) {
    run(std::integral_constant<size_t, kChunkWords>{}, from(first), combined_.data() + first);
  }
  if (first < words) run(words - first, from(first), combined_.data() + first);
  if (rows % 64 != 0) combined_[words - 1] &= (uint64_t{1} << (rows % 64)) - 1;
  return combined_.data();
}

bool CombinedBooleanExpression::splitsBy(const std::vector<bool>& side) const {
  // Per open group: the sides its conditions lie on (bit 0 for false, bit 1
  // for true) and the "and" chains it has ended.
  struct Group {
    unsigned sides = 0;
    size_t chains = 0;
  };
  std::vector<Group> open;
  for (const Step& step : program_) {
    if (step.op == Op::Open) {
      open.push_back({});
      continue;
    }
    unsigned sides = 0;
    if (step.op == Op::Leaf) {
      sides = side[step.leaf] ? 2U : 1U;
    } else {
      const Group closed = open.back();
      open.pop_back();
      if (closed.sides == 3 && closed.chains > 1) return false;
      if (open.empty()) return true;
      sides = closed.sides;
    }
    open.back().sides |= sides;
    open.back().chains += step.endsChain ? 1 : 0;
  }
  return true;
}
