#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "errors/database_exception.h"
#include "parserengine/tokenizer.h"

namespace {

TokenList tokenize(const std::string& command) {
  Buffer buffer;
  copyCommandToBuffer(buffer, command.c_str());
  TokenList tokens;
  populateTokens(buffer, tokens);
  return tokens;
}

}  // namespace

TEST(Tokenizer, BlanksAndSeparators) {
  EXPECT_EQ(tokenize("a>=3"), (TokenList{"a", ">=", "3"}));
  EXPECT_EQ(tokenize("  a   >=  3 "), (TokenList{"a", ">=", "3"}));
  EXPECT_EQ(tokenize("a<>b"), (TokenList{"a", "<", ">", "b"}));
  EXPECT_EQ(tokenize("a!=b,c<=d=>e"), (TokenList{"a", "!=", "b", ",", "c", "<=", "d", "=", ">", "e"}));
  EXPECT_EQ(tokenize("f(x),(y)"), (TokenList{"f", "(", "x", ")", ",", "(", "y", ")"}));
  EXPECT_EQ(tokenize("a!b"), (TokenList{"a!b"}));
  EXPECT_EQ(tokenize("Select\tA\nfrom"), (TokenList{"Select\tA\nfrom"}));
  EXPECT_TRUE(tokenize("").empty());
  EXPECT_TRUE(tokenize("     ").empty());
}

TEST(Tokenizer, BufferGrowsForLongCommandsAndIsReused) {
  Buffer buffer;
  TokenList tokens;
  const std::string longWord(100000, 'w');
  copyCommandToBuffer(buffer, ("select " + longWord).c_str());
  EXPECT_GE(buffer.capacity(), 100008u);
  populateTokens(buffer, tokens);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[1], longWord);

  const uint32_t grown = buffer.capacity();
  copyCommandToBuffer(buffer, "drop table t");
  EXPECT_EQ(buffer.capacity(), grown);
  EXPECT_EQ(buffer.used(), 13u);
  populateTokens(buffer, tokens);
  EXPECT_EQ(tokens, (TokenList{"drop", "table", "t"}));
}

// The token limit itself is checked from Python and in the parser tests.
TEST(Tokenizer, RefusesANullCommand) {
  Buffer buffer;
  EXPECT_THROW(copyCommandToBuffer(buffer, nullptr), std::logic_error);
}
