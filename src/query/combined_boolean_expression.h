#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Condition;

// A truth value that may not be known yet: filtering decides whole groups of
// rows from the conditions whose answers are the same for every row of the
// group, and leaves the others unknown.
enum class Truth : unsigned char { False, True, Unknown };

// The where clause over a list of conditions, compiled once into a flat
// program: every bracketed group (the whole clause at the root) is the "or"
// of its "and" chains, "and" binding more tightly than "or"; a chain ends at
// a member whose connector is "or" and at the group's last member. The one
// interpreter of that program answers a row from the conditions' `result`
// fields, a row three-valued from `result` and `unknown`, and a block of rows
// from the conditions' bit masks (see row_bits.h). It walks no tree and
// recurses nowhere, so arbitrarily deep bracket nesting cannot overflow the
// call stack. An empty clause holds for every row. The conditions must
// outlive the expression; evaluating is not thread-safe (the expression
// keeps its own work space).
class CombinedBooleanExpression {
 public:
  // Compiles the clause of `conditions` in query order. Each condition first
  // closes the groups down to depth (level - openBrackets), then opens
  // groups up to its level; a closed group takes the connector of the last
  // condition inside it. Leaf k of the program is conditions[k].
  explicit CombinedBooleanExpression(const std::vector<Condition*>& conditions);

  // Truth value from the conditions' stored answers.
  bool evaluate();
  // The same where some answers may be unknown (Condition::unknown): "and"
  // of a false member is false and "or" of a true member is true even when
  // other members are unknown. Agrees with evaluate() whenever every answer
  // is known.
  Truth evaluatePartial();
  // The mask of the `rows` rows that satisfy the clause, from masks[k], the
  // answers of condition k for those rows, whole words each. Bits past
  // `rows` are clear. The mask is the expression's own work space, valid
  // until the next call.
  const uint64_t* combine(const std::vector<std::vector<uint64_t>>& masks, size_t rows);
  // Whether every group whose conditions lie on both sides (`side[k]` for
  // condition k) joins its members with "and" only: then the clause is an
  // "and" of parts that each read one side.
  bool splitsBy(const std::vector<bool>& side) const;

 private:
  enum class Op : unsigned char { Open, Leaf, Close };
  struct Step {
    Op op;
    bool endsChain;   // for Leaf and Close: the member closes an "and" chain of its group
    bool emptyGroup;  // for Close: the group has no member, so it holds
    size_t leaf;      // for Leaf: the condition's index
  };
  // Words of a block combined by one run of the program: enough to spread
  // the cost of stepping through the program, few enough for the work
  // space to stay in the first-level cache.
  static constexpr size_t kChunkWords = 32;

  // Closes the innermost open group; the member before it ends its chain.
  void close(bool endsChain);
  // Runs the program over `words` words at once: a constant kChunkWords
  // for most of a block, fewer at its end, a constant one for a single row.
  // leaf(k) gives the words of condition k; the clause's go to `out`.
  template <typename Width, typename Leaf>
  void run(Width words, Leaf leaf, uint64_t* out);

  std::vector<const Condition*> conditions_;
  std::vector<Step> program_;
  // Groups open at most at once, the root included.
  size_t levels_ = 1;
  // Per open group, the words of a run twice: the "or" of its finished
  // chains, then the "and" of the chain it is in.
  std::vector<uint64_t> work_;
  // What combine() returns.
  std::vector<uint64_t> combined_;
};
