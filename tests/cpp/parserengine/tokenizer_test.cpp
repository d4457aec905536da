// Token boundaries, quotes and the token limit are checked from Python; these
// cases cover the command buffer the tokenizer reuses.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "parserengine/tokenizer.h"

TEST(Tokenizer, BufferGrowsForLongCommandsAndIsReused) {
  Buffer buffer;
  TokenList tokens;
  EXPECT_THROW(copyCommandToBuffer(buffer, nullptr), std::logic_error);
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
