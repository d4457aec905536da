// The where clause compiled into one flat program of "or"s of "and" chains,
// and the one interpreter that answers it for a row, three-valued, or a block.

#include "query/combined_boolean_expression.h"

#include <algorithm>
#include <type_traits>

#include "query/condition.h"
#include "query/row_bits.h"

namespace {

// Three-valued answers travel as two bits: bit 0 is the answer with every
// unknown answer taken as false, bit 1 with every unknown answer taken as
// true. "and" and "or" are monotone, so combining the bits word-wise gives
// both bounds at once; they agree exactly when the answer is known.
constexpr uint64_t kKnownFalse = 0;
constexpr uint64_t kKnownTrue = 3;
constexpr uint64_t kUnknown = 2;

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

// The leaves of a run over one row: condition k's word, `answer` of it, is
// put in `word`.
template <typename Answer>
auto rowLeaf(const std::vector<const Condition*>& conditions, uint64_t& word, Answer answer) {
  return [&conditions, &word, answer](size_t k) {
    word = answer(*conditions[k]);
    return &word;
  };
}

}  // namespace

CombinedBooleanExpression::CombinedBooleanExpression(const std::vector<Condition*>& conditions)
    : conditions_(conditions.begin(), conditions.end()) {
  program_.push_back({Op::Open, false, false, 0});
  size_t depth = 0;  // groups open inside the root
  size_t deepest = 0;
  BoolOperator previous = NONE;  // connector of the condition placed last
  for (size_t k = 0; k < conditions.size(); ++k) {
    const Condition& condition = *conditions[k];
    const size_t base = condition.level >= condition.openBrackets ? condition.level - condition.openBrackets : 0;
    for (; depth > base; --depth) close(previous == OR);
    for (; depth < condition.level; ++depth) program_.push_back({Op::Open, false, false, 0});
    deepest = std::max(deepest, depth);
    program_.push_back({Op::Leaf, condition.boolOperator == OR, false, k});
    previous = condition.boolOperator;
  }
  // Groups still open at the end are the last members of their parents.
  for (; depth > 0; --depth) close(false);
  close(true);
  levels_ = deepest + 1;
  work_.resize(2 * levels_);
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
  uint64_t word = 0;
  uint64_t answer = 0;
  run(OneWord{}, rowLeaf(conditions_, word, [](const Condition& c) -> uint64_t { return c.result ? 1 : 0; }), &answer);
  return answer != 0;
}

Truth CombinedBooleanExpression::evaluatePartial() {
  const auto twoBits = [](const Condition& c) { return c.unknown ? kUnknown : c.result ? kKnownTrue : kKnownFalse; };
  uint64_t word = 0;
  uint64_t answer = 0;
  run(OneWord{}, rowLeaf(conditions_, word, twoBits), &answer);
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
