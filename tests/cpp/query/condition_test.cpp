#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "../test_support.h"
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

}  // namespace

// Texts order as unsigned bytes, like strcmp; the row text is the last
// thing in its block, so comparing must stop at its NUL even when the
// constant is longer.
TEST(SimpleConditionTest, TextsAndStoredBytesUnderEveryOperator) {
  struct Case {
    ConditionType type;
    const char* constant;
    const char* text;
    bool expected;
  };
  const Case cases[] = {
      {LT, "abc", "abb", true}, {LT, "abc", "ab", true},  {LT, "abc", "abc", false}, {LT, "abc", "abca", false},
      {GE, "abc", "abcd", true}, {GE, "abc", "", false},  {GT, "z", "\xc3\xa9", true},  {LE, "m", "m", true},
      {NE, "m", "a", true},      {EQ, "abcdefgh", "ab", false}, {NE, "abcdefgh", "ab", true},
  };
  for (const Case& c : cases) {
    const size_t length = std::strlen(c.text) + 1;
    auto block = std::make_unique<char[]>(length);
    std::memcpy(block.get(), c.text, length);
    EXPECT_EQ(c.expected, textCondition(c.type, c.constant)->evaluate(block.get()))
        << c.type << " '" << c.constant << "' '" << c.text << "'";
  }
  const int16_t category = 300;
  EXPECT_TRUE(bytesCondition(EQ, category)->evaluate(&category));
  EXPECT_FALSE(bytesCondition(NE, category)->evaluate(&category));
  const double negativeZero = -0.0;
  EXPECT_FALSE(bytesCondition(EQ, 0.0)->evaluate(&negativeZero)) << "bytes, not values";

  auto refused = bytesCondition(EQ, int32_t{7});
  refused->type = static_cast<ConditionType>(6);
  const int32_t seven = 7;
  EXPECT_EQ("Unsupported select condition operator", test_support::messageOf([&] { refused->evaluate(&seven); }));
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
  if (values.size() % 64 != 0) {
    EXPECT_EQ(bits.back() >> (values.size() % 64), 0u) << "bits past the rows";
  }
  // Packed one after another, as a node's column copy holds them.
  std::vector<uint64_t> dense((values.size() + 63) / 64, ~uint64_t{0});
  condition.evaluateDense(packed.data() + 1, sizeof(T), values.size(), dense.data());
  EXPECT_EQ(dense, bits) << "type " << condition.type;
  // Packed wider apart than T, as a wider copy holds them: row by row.
  constexpr size_t kWidth = sizeof(T) + 3;
  std::vector<char> spaced(values.size() * kWidth);
  for (size_t i = 0; i < values.size(); ++i) std::memcpy(spaced.data() + i * kWidth, &values[i], sizeof(T));
  std::vector<uint64_t> wide((values.size() + 63) / 64, ~uint64_t{0});
  condition.evaluateDense(spaced.data(), kWidth, values.size(), wide.data());
  EXPECT_EQ(wide, bits) << "type " << condition.type << " packed " << kWidth << " apart";
}

}  // namespace

// The block loops of every condition class answer as evaluate() does, for
// every operator they take, on unaligned values, NaN and both zeros
// included; 130 rows end in a partial word.
TEST(ConditionBlockTest, BlockAnswersMatchRowAnswers) {
  std::vector<double> doubles;
  std::vector<float> floats;
  std::vector<int> ints;
  std::vector<short> shorts;
  std::vector<unsigned short> numbers;
  for (int i = 0; i < 130; ++i) {
    doubles.push_back(i % 17 == 0 ? std::nan("") : i % 13 == 0 ? -0.0 : (i % 9) - 4.0);
    floats.push_back(static_cast<float>(doubles.back()));
    ints.push_back(i % 7 == 0 ? INT32_MIN : (i * 7919) % 2001 - 1000);
    shorts.push_back(static_cast<short>((i * 37) % 200 - 100));
    numbers.push_back(static_cast<unsigned short>(i % 5 == 0 ? 65535 : i * 500));
  }
  for (const ConditionType type : {LT, GT, LE, GE}) {
    CompareCondition<double> onDouble(type, 0.0);
    expectBlockMatchesRows(onDouble, doubles);
    CompareCondition<float> onFloat(type, 0.0f);
    expectBlockMatchesRows(onFloat, floats);
    CompareCondition<int> onInt(type, -3);
    expectBlockMatchesRows(onInt, ints);
    CompareCondition<short> onShort(type, short{-3});
    expectBlockMatchesRows(onShort, shorts);
    CompareCondition<unsigned short> onNumber(type, static_cast<unsigned short>(30000));
    expectBlockMatchesRows(onNumber, numbers);
  }
  for (const ConditionType type : {EQ, NE}) {
    EqualCondition<double> equalDouble(type, 0.0);
    expectBlockMatchesRows(equalDouble, doubles);
    EqualCondition<float> equalFloat(type, 0.0f);
    expectBlockMatchesRows(equalFloat, floats);
    expectBlockMatchesRows(*bytesCondition(type, ints[3]), ints);
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
  const int one = 1;
  EXPECT_THROW(refused.evaluate(&one), DatabaseException);
  EXPECT_THROW(createTemplatedClass<CompareCondition>(STRING, STRING, std::string("a")), DatabaseException);
}
