// The compiled where clause: its answers for a row, for a row with unknown
// answers and for a block of rows, against clauses written out by hand.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "query/combined_boolean_expression.h"
#include "query/row_bits.h"
#include "random_clause.h"

namespace {

bool bitAt(const uint64_t* bits, size_t i) { return (bits[i / 64] >> (i % 64) & 1) != 0; }

// Rows of the block that every clause is also answered for: past one chunk
// of words, ending in a partial word.
constexpr size_t kBlockRows = 2100;

}  // namespace

// Every way of answering gives the clause's value as written, for every
// combination of answers: row k of the block takes combination k modulo
// their number, and the same combination is answered row by row and
// three-valued with every answer known. `sides` and `splits` check whether
// the clause is an "and" of parts reading one side each.
TEST(CombinedBooleanExpressionTest, ClausesAnswerAsWritten) {
  struct Clause {
    std::string text;
    bool (*holds)(const bool* v);
    const char* sides;  // per condition: L or R
    bool splits;
  };
  const std::string deep = std::string(60000, '(') + "a or b" + std::string(60000, ')') + " and c";
  const Clause clauses[] = {
      {"", [](const bool*) { return true; }, "", true},
      {"a", [](const bool* v) { return v[0]; }, "R", true},
      {"a and b or c", [](const bool* v) { return (v[0] && v[1]) || v[2]; }, "LLR", false},
      {"a or b and c", [](const bool* v) { return v[0] || (v[1] && v[2]); }, "LLL", true},
      {"(a or b) and c", [](const bool* v) { return (v[0] || v[1]) && v[2]; }, "LLR", true},
      {"a and (b or c)", [](const bool* v) { return v[0] && (v[1] || v[2]); }, "RLR", false},
      {"(a or b) and (c or d)", [](const bool* v) { return (v[0] || v[1]) && (v[2] || v[3]); }, "LLRR", true},
      {"(a and b) or (c and d)", [](const bool* v) { return (v[0] && v[1]) || (v[2] && v[3]); }, "LRLR", false},
      {"((a or b) and c) or d", [](const bool* v) { return ((v[0] || v[1]) && v[2]) || v[3]; }, "RRRR", true},
      {"a and ((b or c)) and d", [](const bool* v) { return v[0] && (v[1] || v[2]) && v[3]; }, "LRRL", true},
      {"a and (b or (c and d)) or e", [](const bool* v) { return (v[0] && (v[1] || (v[2] && v[3]))) || v[4]; },
       "LLLLL", true},
      // Deep nesting must not need a deep call stack.
      {deep, [](const bool* v) { return (v[0] || v[1]) && v[2]; }, "RRL", true},
  };
  for (const Clause& clause : clauses) {
    SCOPED_TRACE(clause.text.substr(0, 40));
    const std::vector<ClauseNode> tree = clauseOf(clause.text);
    CombinedBooleanExpression root(tree);
    const size_t count = leavesOf(tree);
    const size_t combinations = size_t{1} << count;
    std::vector<std::vector<uint64_t>> masks(count, std::vector<uint64_t>(row_bits::wordsFor(kBlockRows)));
    for (size_t row = 0; row < kBlockRows; ++row) {
      for (size_t k = 0; k < count; ++k) masks[k][row / 64] |= uint64_t{(row % combinations) >> k & 1} << (row % 64);
    }
    const uint64_t* block = root.combine(masks, kBlockRows);
    EXPECT_EQ(0u, block[kBlockRows / 64] >> (kBlockRows % 64)) << "bits past the rows";
    // The clause in brackets "and" one more condition, which comes last.
    CombinedBooleanExpression anded = root;
    anded.andWith(count);
    for (size_t row = 0; row < kBlockRows; ++row) {
      bool answers[8] = {};
      for (size_t k = 0; k < count; ++k) {
        answers[k] = ((row % combinations) >> k & 1) != 0;
        root.set(k, answers[k]);
        anded.set(k, answers[k]);
      }
      const bool expected = clause.holds(answers);
      ASSERT_EQ(expected, bitAt(block, row)) << "row " << row;
      if (row >= combinations) continue;
      ASSERT_EQ(expected, root.evaluate()) << "row " << row;
      ASSERT_EQ(expected ? Truth::True : Truth::False, root.evaluatePartial()) << "row " << row;
      for (const bool extra : {false, true}) {
        anded.set(count, extra);
        ASSERT_EQ(expected && extra, anded.evaluate()) << "row " << row << " and " << extra;
      }
    }
    std::vector<bool> side;
    for (const char* s = clause.sides; *s != '\0'; ++s) side.push_back(*s == 'R');
    EXPECT_EQ(clause.splits, root.splitsBy(side));
  }
}

// On random clauses, three-valued evaluation is exact: a known answer is
// the answer of every completion of the unknown conditions, and "unknown"
// means some completion gives each answer.
TEST(CombinedBooleanExpressionTest, PartialEvaluationIsExact) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::vector<ClauseNode> tree = randomClause(random, 3);
    CombinedBooleanExpression root(tree);
    std::vector<size_t> unknown;
    std::vector<bool> answers;
    for (size_t i = 0; i < leavesOf(tree); ++i) {
      answers.push_back(random() % 2 == 0);
      root.set(i, answers.back());
      if (random() % 3 == 0) unknown.push_back(i);
    }
    for (const size_t i : unknown) root.setUnknown(i);
    const Truth partial = root.evaluatePartial();
    bool seenTrue = false;
    bool seenFalse = false;
    for (unsigned bits = 0; bits < (1u << unknown.size()); ++bits) {
      for (size_t k = 0; k < unknown.size(); ++k) root.set(unknown[k], (bits >> k & 1) != 0);
      (root.evaluate() ? seenTrue : seenFalse) = true;
    }
    EXPECT_EQ(seenTrue && seenFalse ? Truth::Unknown : seenTrue ? Truth::True : Truth::False, partial);
  }
}
