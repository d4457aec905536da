#include <gtest/gtest.h>

#include <functional>
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

// How a condition stands in the clause.
struct Spec {
  unsigned short level;
  BoolOperator op;
  unsigned short opens = 0;
};

std::vector<std::unique_ptr<FixedCondition>> makeConditions(const std::vector<Spec>& specs) {
  std::vector<std::unique_ptr<FixedCondition>> conditions;
  for (const Spec& spec : specs) {
    conditions.push_back(std::make_unique<FixedCondition>(spec.level, spec.op, spec.opens));
  }
  return conditions;
}

std::vector<Condition*> pointers(const std::vector<std::unique_ptr<FixedCondition>>& conditions) {
  std::vector<Condition*> list;
  for (const auto& c : conditions) {
    list.push_back(c.get());
  }
  return list;
}

// Builds a tree for the clause, then checks it against `expected` for every
// combination of the conditions' answers.
void expectSameTruthTable(const std::vector<Spec>& specs,
                          const std::function<bool(const std::vector<bool>&)>& expected) {
  auto conditions = makeConditions(specs);
  auto root = CombinedBooleanExpression::build(pointers(conditions));
  const size_t n = conditions.size();
  for (unsigned mask = 0; mask < (1U << n); ++mask) {
    std::vector<bool> values(n);
    for (size_t i = 0; i < n; ++i) {
      values[i] = ((mask >> i) & 1U) != 0;
      conditions[i]->result = values[i];
    }
    EXPECT_EQ(expected(values), root->evaluate()) << "mask " << mask;
  }
}

}  // namespace

TEST(CombinedBooleanExpressionTest, EmptyGroupIsTrue) {
  CombinedBooleanExpression root;
  EXPECT_TRUE(root.evaluate());
  std::vector<Condition*> none;
  EXPECT_TRUE(CombinedBooleanExpression::build(none)->evaluate());
}

TEST(CombinedBooleanExpressionTest, FalseAndChainSkipsToTheNextOr) {
  int a = 0;
  int b = 0;
  int c = 0;
  CombinedBooleanExpression root;
  root.addChild(std::make_unique<SpyExpression>(false, AND, &a));
  root.addChild(std::make_unique<SpyExpression>(false, OR, &b));
  root.addChild(std::make_unique<SpyExpression>(true, NONE, &c));
  EXPECT_TRUE(root.evaluate());
  EXPECT_EQ(1, a);
  EXPECT_EQ(0, b);
  EXPECT_EQ(1, c);
}

TEST(CombinedBooleanExpressionTest, TrueBeforeOrStopsEvaluation) {
  int a = 0;
  int b = 0;
  int c = 0;
  CombinedBooleanExpression root;
  root.addChild(std::make_unique<SpyExpression>(true, AND, &a));
  root.addChild(std::make_unique<SpyExpression>(true, OR, &b));
  root.addChild(std::make_unique<SpyExpression>(false, NONE, &c));
  EXPECT_TRUE(root.evaluate());
  EXPECT_EQ(0, c);
}

TEST(CombinedBooleanExpressionTest, FalseChainAtTheEndIsFalse) {
  int calls = 0;
  CombinedBooleanExpression root;
  root.addChild(std::make_unique<SpyExpression>(false, OR, &calls));
  root.addChild(std::make_unique<SpyExpression>(false, AND, &calls));
  root.addChild(std::make_unique<SpyExpression>(true, NONE, &calls));
  EXPECT_FALSE(root.evaluate());
  EXPECT_EQ(2, calls);
}

TEST(CombinedBooleanExpressionTest, AndBindsTighterThanOr) {
  // a or b and c
  std::vector<Spec> orFirst{{0, OR}, {0, AND}, {0, NONE}};
  expectSameTruthTable(orFirst, [](const std::vector<bool>& v) { return v[0] || (v[1] && v[2]); });
  // a and b or c
  std::vector<Spec> andFirst{{0, AND}, {0, OR}, {0, NONE}};
  expectSameTruthTable(andFirst, [](const std::vector<bool>& v) { return (v[0] && v[1]) || v[2]; });
  // a and b or c and d or e
  std::vector<Spec> chains{{0, AND}, {0, OR}, {0, AND}, {0, OR}, {0, NONE}};
  expectSameTruthTable(chains, [](const std::vector<bool>& v) {
    return (v[0] && v[1]) || (v[2] && v[3]) || v[4];
  });
}

TEST(CombinedBooleanExpressionTest, BuildsGroupsFromLevels) {
  const std::vector<Spec> conditions{{1, OR}, {1, AND}, {0, NONE}};
  auto owned = makeConditions(conditions);
  auto root = CombinedBooleanExpression::build(pointers(owned));
  ASSERT_EQ(2U, root->children.size());
  CombinedBooleanExpression* group = root->children[0]->asGroup();
  ASSERT_NE(nullptr, group);
  EXPECT_EQ(AND, group->boolOperator);
  EXPECT_EQ(2U, group->children.size());
  EXPECT_EQ(nullptr, root->children[1]->asGroup());

  // (a or b) and c
  expectSameTruthTable(conditions,
                       [](const std::vector<bool>& v) { return (v[0] || v[1]) && v[2]; });
}

TEST(CombinedBooleanExpressionTest, TwoLevelsOpenAndCloseTogether) {
  const std::vector<Spec> conditions{{2, OR}, {0, NONE}};
  auto owned = makeConditions(conditions);
  auto root = CombinedBooleanExpression::build(pointers(owned));
  ASSERT_EQ(2U, root->children.size());
  CombinedBooleanExpression* outer = root->children[0]->asGroup();
  ASSERT_NE(nullptr, outer);
  ASSERT_EQ(1U, outer->children.size());
  ASSERT_NE(nullptr, outer->children[0]->asGroup());
  EXPECT_EQ(OR, outer->boolOperator);
  expectSameTruthTable(conditions, [](const std::vector<bool>& v) { return v[0] || v[1]; });
}

TEST(CombinedBooleanExpressionTest, AdjacentGroupsStaySeparate) {
  // (a or b) and (c or d)
  std::vector<Spec> pairs{{1, OR, 1}, {1, AND}, {1, OR, 1}, {1, NONE}};
  expectSameTruthTable(pairs, [](const std::vector<bool>& v) {
    return (v[0] || v[1]) && (v[2] || v[3]);
  });
  // ((a or b) and (c or d)) or (e and f)
  std::vector<Spec> nested{{2, OR, 2}, {2, AND}, {2, OR, 1}, {2, OR},
                                     {1, AND, 1}, {1, NONE}};
  expectSameTruthTable(nested, [](const std::vector<bool>& v) {
    return ((v[0] || v[1]) && (v[2] || v[3])) || (v[4] && v[5]);
  });
  // a and ((b or c) and (d or e))
  std::vector<Spec> inner{{0, AND}, {2, OR, 2}, {2, AND}, {2, OR, 1}, {2, NONE}};
  expectSameTruthTable(inner, [](const std::vector<bool>& v) {
    return v[0] && (v[1] || v[2]) && (v[3] || v[4]);
  });
}

TEST(CombinedBooleanExpressionTest, DeepNestingNeedsNoDeepStack) {
  constexpr unsigned short kDepth = 60000;
  // (((a or b))) and c, with kDepth brackets around a or b
  auto conditions = makeConditions({{kDepth, OR, kDepth}, {kDepth, AND}, {0, NONE}});
  auto root = CombinedBooleanExpression::build(pointers(conditions));
  conditions[0]->result = false;
  conditions[1]->result = true;
  conditions[2]->result = true;
  EXPECT_TRUE(root->evaluate());
  conditions[2]->result = false;
  EXPECT_FALSE(root->evaluate());
  conditions[1]->result = false;
  conditions[2]->result = true;
  EXPECT_FALSE(root->evaluate());
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
