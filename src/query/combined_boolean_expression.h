#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A truth value that may not be known yet: filtering decides whole groups of
// rows from the conditions whose answers are the same for every row of the
// group, and leaves the others unknown.
enum class Truth : unsigned char { False, True, Unknown };

// One node of a where tree: a condition or a bracketed group. A tree lists
// its nodes in written order, each group before its members; nodes[0] is
// the root, the whole clause.
struct ClauseNode {
  static constexpr size_t kGroup = SIZE_MAX;

  size_t parent = 0;      // index of the enclosing group (the root's own)
  size_t leaf = kGroup;   // the condition's index, or kGroup
  // Whether the connector written after the node is "or" (else "and"); for
  // the last member of a group, the connector after the group.
  bool orNext = false;
};

// The where clause over conditions 0 .. n-1, compiled once from its tree
// into a flat program: every bracketed group (the whole clause at the root)
// is the "or" of its "and" chains, "and" binding more tightly than "or"; a
// chain ends at a member followed by "or" and at the group's last member.
// The expression also holds the answers of the row being decided, one per
// condition, which its owner records before asking: the conditions
// themselves keep no state. The one interpreter of the program answers a
// row from those answers, a row three-valued where some are unknown, and a
// block of rows from the conditions' bit masks (see row_bits.h). It walks
// no tree and recurses nowhere, so arbitrarily deep bracket nesting cannot
// overflow the call stack. An empty clause holds for every row. Evaluating
// is not thread-safe (the expression keeps its own work space); a copy is
// independent of the original.
class CombinedBooleanExpression {
 public:
  // The empty clause.
  CombinedBooleanExpression();
  // Compiles the clause of `tree`, whose leaves are conditions 0 .. n-1.
  explicit CombinedBooleanExpression(const std::vector<ClauseNode>& tree);

  // Makes the clause one bracketed group followed by "and" condition
  // `leaf`, a condition the clause did not have.
  void andWith(size_t leaf);

  // Records condition `leaf`'s answer for the row being decided.
  void set(size_t leaf, bool answer) { answers_[leaf] = answer ? kKnownTrue : kKnownFalse; }
  // Records that condition `leaf`'s answer is not known yet.
  void setUnknown(size_t leaf) { answers_[leaf] = kUnknown; }
  // The answer recorded for condition `leaf`.
  Truth answer(size_t leaf) const {
    return answers_[leaf] == kUnknown ? Truth::Unknown : answers_[leaf] == kKnownTrue ? Truth::True : Truth::False;
  }

  // Truth value from the recorded answers, every one of them known.
  bool evaluate();
  // The same where some answers may be unknown: "and" of a false member is
  // false and "or" of a true member is true even when other members are
  // unknown. Agrees with evaluate() whenever every answer is known.
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
  // Three-valued answers travel as two bits: bit 0 is the answer with
  // every unknown answer taken as false, bit 1 with every unknown answer
  // taken as true. "and" and "or" are monotone, so combining the bits
  // word-wise gives both bounds at once; they agree exactly when the answer
  // is known.
  static constexpr uint64_t kKnownFalse = 0;
  static constexpr uint64_t kKnownTrue = 3;
  static constexpr uint64_t kUnknown = 2;

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

  // The answers of the row being decided, per condition, in two bits.
  std::vector<uint64_t> answers_;
  std::vector<Step> program_;
  // Groups open at most at once, the root included.
  size_t levels_ = 1;
  // Per open group, the words of a run twice: the "or" of its finished
  // chains, then the "and" of the chain it is in.
  std::vector<uint64_t> work_;
  // What combine() returns.
  std::vector<uint64_t> combined_;
};
