#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "random_clause.h"

namespace {

// A leaf with a fixed value that counts how often it is evaluated.
class SpyExpression : public BooleanExpresssion {
 public:
  SpyExpression(bool value, BoolOperator op, int* calls) : value_(value), calls_(calls) {
    boolOperator = op;
  }
  bool evaluate() override {
    ++*calls_;
    return value_;
  }

 private:
  bool value_;
  int* calls_;
};

// A condition whose answer is set directly by the test.
class FixedCondition : public Condition {
 public:
  FixedCondition(unsigned short bracketLevel, BoolOperator op, unsigned short opens = 0) {
    level = bracketLevel;
    boolOperator = op;
    openBrackets = opens;
  }
  bool evaluate(const void*) override { return result; }
};

}  // namespace

// A false AND chain skips to the next OR; a true chain before an OR ends
// the evaluation; a false chain at the end is false.
TEST(CombinedBooleanExpressionTest, ChainsAreCutShort) {
  struct Case {
    bool values[3];
    BoolOperator ops[2];
    bool expected;
    int calls[3];
  };
  const Case cases[] = {
      {{false, false, true}, {AND, OR}, true, {1, 0, 1}},
      {{true, true, false}, {AND, OR}, true, {1, 1, 0}},
      {{false, false, true}, {OR, AND}, false, {1, 1, 0}},
  };
  for (const Case& c : cases) {
    int calls[3] = {};
    CombinedBooleanExpression root;
    for (int i = 0; i < 3; ++i) root.addChild(std::make_unique<SpyExpression>(c.values[i], i < 2 ? c.ops[i] : NONE, &calls[i]));
    EXPECT_EQ(c.expected, root.evaluate());
    EXPECT_EQ(std::vector<int>(c.calls, c.calls + 3), std::vector<int>(calls, calls + 3));
  }
  EXPECT_TRUE(CombinedBooleanExpression().evaluate()) << "an empty group is true";
  std::vector<Condition*> none;
  EXPECT_TRUE(CombinedBooleanExpression::build(none)->evaluate());
}

TEST(CombinedBooleanExpressionTest, DeepNestingNeedsNoDeepStack) {
  constexpr unsigned short kDepth = 60000;
  // (((a or b))) and c, with kDepth brackets around a or b
  FixedCondition a(kDepth, OR, kDepth);
  FixedCondition b(kDepth, AND);
  FixedCondition c(0, NONE);
  std::vector<Condition*> conditions{&a, &b, &c};
  auto root = CombinedBooleanExpression::build(conditions);
  const struct {
    bool a, b, c, expected;
  } cases[] = {{false, true, true, true}, {false, true, false, false}, {false, false, true, false}};
  for (const auto& row : cases) {
    a.result = row.a;
    b.result = row.b;
    c.result = row.c;
    EXPECT_EQ(row.expected, root->evaluate()) << row.a << row.b << row.c;
  }
}

// Three-valued evaluation must be exact for these read-once clauses: a
// known answer is the answer of every completion of the unknown
// conditions, and "unknown" means some completion gives each answer.
TEST(CombinedBooleanExpression, PartialEvaluationIsExact) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 400; ++trial) {
    const std::vector<ClauseShape> shape = randomClause(random, 3);
    std::vector<std::unique_ptr<FixedCondition>> owned;
    std::vector<Condition*> conditions;
    for (const ClauseShape& s : shape) {
      owned.push_back(std::make_unique<FixedCondition>(s.level, s.op, s.openBrackets));
      conditions.push_back(owned.back().get());
    }
    auto root = CombinedBooleanExpression::build(conditions);
    std::vector<size_t> unknown;
    for (size_t i = 0; i < conditions.size(); ++i) {
      conditions[i]->unknown = random() % 3 == 0;
      conditions[i]->result = random() % 2 == 0;
      if (conditions[i]->unknown) unknown.push_back(i);
    }
    const Truth partial = root->evaluatePartial();
    bool seenTrue = false;
    bool seenFalse = false;
    for (unsigned bits = 0; bits < (1u << unknown.size()); ++bits) {
      for (size_t k = 0; k < unknown.size(); ++k) conditions[unknown[k]]->result = (bits >> k & 1) != 0;
      (root->evaluate() ? seenTrue : seenFalse) = true;
    }
    const Truth expected = seenTrue && seenFalse ? Truth::Unknown : seenTrue ? Truth::True : Truth::False;
    EXPECT_EQ(partial, expected) << "trial " << trial;
  }
}
