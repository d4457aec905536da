#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CombinedBooleanExpression;
class Condition;

// Evaluates a where clause over a block of rows at once. Each condition's
// answers arrive as a bit mask (see row_bits.h); the expression tree is
// turned once into a flat program that combines the masks word by word, an
// "or" of "and" chains per bracketed group, as the tree evaluates one row.
// The filter keeps its own work space and refers to nothing after prepare.
class BlockFilter {
 public:
  // Compiles the tree built over `conditions`; leaf k of the program reads
  // the mask of the condition at the same place in `conditions`.
  void prepare(CombinedBooleanExpression& root, const std::vector<Condition*>& conditions);
  // Combines the masks (masks[i] for conditions[i], `words` words each)
  // and returns the mask of the rows that satisfy the clause (bits past the
  // rows may be set); it is the filter's own work space, valid and free to
  // change until the next call.
  uint64_t* combine(const std::vector<std::vector<uint64_t>>& masks, size_t words);

 private:
  enum class Op : unsigned char { Open, Leaf, Close };
  struct Step {
    Op op;
    bool endsChain;        // the member closes an "and" chain of its group
    size_t condition = 0;  // for Leaf: index into the masks
  };
  // Accumulators of one open group: the "or" of its finished chains and the
  // "and" of the chain it is in.
  struct Level {
    std::vector<uint64_t> group;
    std::vector<uint64_t> chain;
    bool empty = true;  // no member seen: the group holds
  };

  void open(size_t depth, size_t words);
  // Ands `value` into the chain of `level`, closing the chain if asked.
  static void addMember(Level& level, const uint64_t* value, size_t words, bool endsChain);

  std::vector<Step> program_;
  std::vector<Level> levels_;
};
