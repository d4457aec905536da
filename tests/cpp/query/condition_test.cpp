#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "query/category_range_condition.h"
#include "query/compare_condition.h"
#include "query/equal_condition.h"
#include "query/simple_condition.h"
#include "storage/templated_class.h"

namespace {

std::unique_ptr<SimpleCondition> textCondition(ConditionType type, const std::string& text) {
  char* bytes = new char[text.size() + 1];
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  return std::make_unique<SimpleCondition>(type, bytes, static_cast<unsigned short>(text.size() + 1));
}

template <typename T>
std::unique_ptr<SimpleCondition> bytesCondition(ConditionType type, T value) {
  char* bytes = new char[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  return std::make_unique<SimpleCondition>(type, bytes, static_cast<unsigned short>(sizeof(T)));
}

template <typename T>
std::unique_ptr<Condition> typed(DATA_TYPE type, ConditionType op, const std::string& text) {
  std::unique_ptr<Condition> condition(
      static_cast<Condition*>(createTemplatedClass<CompareCondition>(type, type, text)));
  condition->type = op;
  return condition;
}

}  // namespace

TEST(SimpleConditionTest, TextOrdersLikeStrcmp) {
  auto lt = textCondition(LT, "abc");
  EXPECT_TRUE(lt->evaluate("abb"));
  EXPECT_TRUE(lt->evaluate("ab"));
  EXPECT_FALSE(lt->evaluate("abc"));
  EXPECT_FALSE(lt->evaluate("abd"));
  EXPECT_FALSE(lt->evaluate("abca"));

  auto ge = textCondition(GE, "abc");
  EXPECT_TRUE(ge->evaluate("abc"));
  EXPECT_TRUE(ge->evaluate("abcd"));
  EXPECT_FALSE(ge->evaluate(""));

  // Bytes above 127 order after ASCII, as unsigned characters.
  auto gt = textCondition(GT, "z");
  EXPECT_TRUE(gt->evaluate("\xc3\xa9"));
}

TEST(SimpleConditionTest, StopsAtTheRowTextsNul) {
  // The row text is the last thing in its block; comparing must not read
  // past its NUL even though the constant is longer.
  auto eq = textCondition(EQ, "abcdefgh");
  const std::string shortText = "ab";
  auto block = std::make_unique<char[]>(3);
  std::memcpy(block.get(), shortText.c_str(), 3);
  EXPECT_FALSE(eq->evaluate(block.get()));
  EXPECT_TRUE(textCondition(NE, "abcdefgh")->evaluate(block.get()));
}

TEST(SimpleConditionTest, AllSixOperatorsOnStoredBytes) {
  const int16_t category = 300;
  struct Case {
    ConditionType type;
    bool below, equal, above;
  } cases[] = {{EQ, false, true, false}, {NE, true, false, true}, {LT, true, false, false},
               {GT, false, false, true}, {LE, true, true, false}, {GE, false, true, true}};
  for (const Case& c : cases) {
    auto condition = textCondition(c.type, "m");
    EXPECT_EQ(c.below, condition->evaluate("a")) << c.type;
    EXPECT_EQ(c.equal, condition->evaluate("m")) << c.type;
    EXPECT_EQ(c.above, condition->evaluate("z")) << c.type;
    EXPECT_EQ(c.equal, bytesCondition(c.type, category)->evaluate(&category)) << c.type;
  }
}

TEST(SimpleConditionTest, ResultIsStoredAndUnknownOperatorThrows) {
  auto condition = bytesCondition(EQ, int32_t{7});
  EXPECT_FALSE(condition->result);
  const int32_t seven = 7;
  EXPECT_TRUE(condition->evaluate(&seven));
  EXPECT_TRUE(condition->result);

  condition->type = static_cast<ConditionType>(6);
  EXPECT_THROW(
      {
        try {
          condition->evaluate(&seven);
        } catch (const DatabaseException& e) {
          EXPECT_STREQ("Unsupported select condition operator", e.what());
          throw;
        }
      },
      DatabaseException);
}

TEST(SimpleConditionTest, DoubleZeroDiffersFromNegativeZeroInBytes) {
  const double negativeZero = -0.0;
  EXPECT_FALSE(bytesCondition(EQ, 0.0)->evaluate(&negativeZero));
}

TEST(CompareConditionTest, SignedAndUnsignedComparisons) {
  auto gt = typed<short>(SHORT, GT, "-1");
  const short zero = 0;
  const short minusTwo = -2;
  EXPECT_TRUE(gt->evaluate(&zero));
  EXPECT_FALSE(gt->evaluate(&minusTwo));

  CompareCondition<unsigned short> category(GT, 1);
  const unsigned short high = 65535;
  EXPECT_TRUE(category.evaluate(&high));

  auto le = typed<long>(LONG, LE, "-9000000000");
  const long big = -9000000000L;
  const long bigger = -8999999999L;
  EXPECT_TRUE(le->evaluate(&big));
  EXPECT_FALSE(le->evaluate(&bigger));

  auto date = typed<unsigned short>(DATE, GE, "2020-01-02");
  const unsigned short dayBefore = dateStringToInt("2020-01-01");
  const unsigned short sameDay = dateStringToInt("2020-01-02");
  EXPECT_FALSE(date->evaluate(&dayBefore));
  EXPECT_TRUE(date->evaluate(&sameDay));

  auto flag = typed<bool>(BOOL, GT, "false");
  const bool yes = true;
  EXPECT_TRUE(flag->evaluate(&yes));
}

TEST(CompareConditionTest, ReadsUnalignedValues) {
  alignas(8) char block[16] = {};
  const double value = 2.5;
  std::memcpy(block + 3, &value, sizeof(value));
  EXPECT_TRUE(typed<double>(DOUBLE, GT, "2")->evaluate(block + 3));
}

TEST(CompareConditionTest, NanAnswersFalseEverywhere) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double one = 1.0;
  for (ConditionType op : {LT, GT, LE, GE}) {
    auto withNanConstant = typed<double>(DOUBLE, op, "nan");
    EXPECT_FALSE(withNanConstant->evaluate(&one)) << op;
    EXPECT_FALSE(withNanConstant->evaluate(&nan)) << op;
    EXPECT_FALSE(typed<double>(DOUBLE, op, "1")->evaluate(&nan)) << op;
  }
}

TEST(CompareConditionTest, EqualityAndTextRefused) {
  const int value = 1;
  auto eq = typed<int>(INT, EQ, "1");
  EXPECT_THROW(eq->evaluate(&value), DatabaseException);
  EXPECT_THROW(createTemplatedClass<CompareCondition>(STRING, STRING, std::string("a")),
               DatabaseException);
  EXPECT_THROW(createTemplatedClass<CompareCondition>(static_cast<DATA_TYPE>(9),
                                                      static_cast<DATA_TYPE>(9), std::string("1")),
               DatabaseException);
}

TEST(EqualConditionTest, FloatingPointEqualityIsIeee) {
  const double negativeZero = -0.0;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(EqualCondition<double>(EQ, 0.0).evaluate(&negativeZero));
  EXPECT_FALSE(EqualCondition<double>(NE, 0.0).evaluate(&negativeZero));
  EXPECT_FALSE(EqualCondition<double>(EQ, nan).evaluate(&nan));
  EXPECT_TRUE(EqualCondition<double>(NE, nan).evaluate(&nan));
  const float nanFloat = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(EqualCondition<float>(EQ, 1.0F).evaluate(&nanFloat));
  EXPECT_TRUE(EqualCondition<float>(NE, 1.0F).evaluate(&nanFloat));
}

TEST(CategoryRangeConditionTest, BoundsAreInclusive) {
  CategoryRangeCondition range(GE, 10, 20);
  for (unsigned short v : {9, 10, 15, 20, 21}) {
    EXPECT_EQ(v >= 10 && v <= 20, range.evaluate(&v)) << v;
  }
  CategoryRangeCondition empty(GE, 20, 19);
  const unsigned short v = 20;
  EXPECT_FALSE(empty.evaluate(&v));
}

namespace {

// Packs values one after another, unaligned, and answers every row both
// ways: one evaluate() per row, and one evaluateRows() for the block.
template <typename T>
void expectBlockMatchesRows(Condition& condition, const std::vector<T>& values) {
  std::vector<char> packed(1 + values.size() * sizeof(T));
  std::vector<uint32_t> rows;
  for (size_t i = 0; i < values.size(); ++i) {
    std::memcpy(packed.data() + 1 + i * sizeof(T), &values[i], sizeof(T));
    // Each row offset stands 1 byte before its value: delta is 1.
    rows.push_back(static_cast<uint32_t>(i * sizeof(T)));
  }
  std::vector<uint64_t> bits((values.size() + 63) / 64, ~uint64_t{0});
  condition.evaluateRows(packed.data(), rows.data(), 1, values.size(), bits.data());
  for (size_t i = 0; i < values.size(); ++i) {
    const bool one = condition.evaluate(packed.data() + 1 + i * sizeof(T));
    ASSERT_EQ((bits[i / 64] >> (i % 64) & 1) != 0, one) << "row " << i << " type " << condition.type;
  }
  if (values.size() % 64 != 0) EXPECT_EQ(bits.back() >> (values.size() % 64), 0u) << "bits past the rows";
  // Packed one after another, as a node's column copy holds them.
  std::vector<uint64_t> dense((values.size() + 63) / 64, ~uint64_t{0});
  condition.evaluateDense(packed.data() + 1, sizeof(T), values.size(), dense.data());
  EXPECT_EQ(dense, bits) << "type " << condition.type;
}

}  // namespace

// The block loops of every condition class answer as evaluate() does, for
// every operator they take, on unaligned values, NaN and both zeros
// included; 130 rows end in a partial word.
TEST(ConditionBlockTest, BlockAnswersMatchRowAnswers) {
  std::vector<double> doubles;
  std::vector<short> shorts;
  std::vector<unsigned short> numbers;
  for (int i = 0; i < 130; ++i) {
    doubles.push_back(i % 17 == 0 ? std::nan("") : i % 13 == 0 ? -0.0 : (i % 9) - 4.0);
    shorts.push_back(static_cast<short>((i * 37) % 200 - 100));
    numbers.push_back(static_cast<unsigned short>(i % 5 == 0 ? 65535 : i * 500));
  }
  for (const ConditionType type : {LT, GT, LE, GE}) {
    CompareCondition<double> onDouble(type, 0.0);
    expectBlockMatchesRows(onDouble, doubles);
    CompareCondition<short> onShort(type, short{-3});
    expectBlockMatchesRows(onShort, shorts);
    CompareCondition<unsigned short> onNumber(type, static_cast<unsigned short>(30000));
    expectBlockMatchesRows(onNumber, numbers);
  }
  for (const ConditionType type : {EQ, NE}) {
    EqualCondition<double> equalDouble(type, 0.0);
    expectBlockMatchesRows(equalDouble, doubles);
    expectBlockMatchesRows(*bytesCondition(type, short{-3}), shorts);
    expectBlockMatchesRows(*bytesCondition(type, static_cast<unsigned short>(1000)), numbers);
    expectBlockMatchesRows(*bytesCondition(type, 2.0), doubles);
  }
  // Ordering on bytes has no block loop of its own: it goes row by row.
  expectBlockMatchesRows(*bytesCondition(LT, short{5}), shorts);
  CategoryRangeCondition range(GE, 1000, 40000);
  expectBlockMatchesRows(range, numbers);

  CompareCondition<int> refused(EQ, 1);
  std::vector<uint64_t> bits(1);
  const uint32_t row = 0;
  EXPECT_THROW(refused.evaluateRows("abcd", &row, 0, 1, bits.data()), DatabaseException);
  EXPECT_THROW(refused.evaluateDense("abcd", 4, 1, bits.data()), DatabaseException);
}
