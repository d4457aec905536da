#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../test_support.h"
#include "errors/database_exception.h"
#include "parser/grammar_elements.h"
#include "parser/list_parser.h"
#include "parser/parser_struct.h"
#include "parser/repeated_statement_parser.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

namespace {

// keyword "a" [optional "b"] [dependent string] [dependent string] "end"
class FlagGrammar : public ParserStruct {
 public:
  FlagGrammar()
      : first(append(std::make_unique<StatementParser>("a"))),
        optionalPart(append(std::make_unique<StatementParser>("b"))),
        dependentOne(append(std::make_unique<StringParser>("first value"))),
        dependentTwo(append(std::make_unique<StringParser>("second value"))),
        last(append(std::make_unique<StatementParser>("end"))) {
    optionalPart->optional = true;
    dependentOne->dependent = true;
    dependentTwo->dependent = true;
  }
  StatementParser* first;
  StatementParser* optionalPart;
  StringParser* dependentOne;
  StringParser* dependentTwo;
  StatementParser* last;
};

std::unique_ptr<Parser> singleString() { return std::make_unique<StringParser>("name"); }

}  // namespace

TEST(ParserKit, OptionalAndDependentFlags) {
  FlagGrammar grammar;
  // Optional part present: the dependent parts are applied.
  EXPECT_EQ(grammar.run({"A", "b", "x", "y", "end"}), 5);
  EXPECT_TRUE(grammar.optionalPart->matched);
  EXPECT_EQ(grammar.dependentOne->value, "x");
  EXPECT_EQ(grammar.dependentTwo->value, "y");
  EXPECT_TRUE(grammar.last->matched);

  // Optional part absent: the run of dependent parts is skipped as a whole
  // and the values of the earlier run are gone.
  EXPECT_EQ(grammar.run({"a", "END"}), 2);
  EXPECT_FALSE(grammar.optionalPart->matched);
  EXPECT_EQ(grammar.dependentOne->value, "");
  EXPECT_EQ(grammar.dependentTwo->value, "");
  EXPECT_TRUE(grammar.last->matched);

  // A mandatory part that does not match reports its position and token.
  EXPECT_EQ(test_support::messageOf([&] { grammar.run({"a", "x", "y"}); }), "Unexpected token identified at pos 1: x");
  EXPECT_EQ(test_support::messageOf([&] { grammar.run({"z"}); }), "Unexpected token identified at pos 0: z");
}

// Tokens that run out before a part the grammar cannot leave out are
// refused, naming that part; optional parts and those skipped with them
// may be missing.
TEST(ParserKit, TokensEndingBeforeAMandatoryPartAreRefused) {
  const struct Case {
    TokenList tokens;
    const char* message;
  } cases[] = {
      {{"a"}, "Missing 'end' after 'a'"},
      {{"a", "b"}, "Missing first value after 'b'"},
      {{"a", "b", "x"}, "Missing second value after 'x'"},
      {{"a", "b", "x", "y"}, "Missing 'end' after 'y'"},
      {{"a", "end"}, "no exception"},
      {{"a", "b", "x", "y", "end"}, "no exception"},
  };
  FlagGrammar grammar;
  for (const Case& c : cases) {
    const std::string message = test_support::messageOf([&] { grammar.run(c.tokens); });
    EXPECT_EQ(message, c.message) << c.tokens.size() << " tokens";
  }
}

TEST(ParserKit, ListWithSeparators) {
  ListParser list(&singleString, {","}, "name");
  EXPECT_EQ(list.parse({"a", ",", "b", "from"}, 0), 3);
  ASSERT_EQ(list.elements.size(), 2u);
  EXPECT_EQ(elementText(*list.elements[1], COL_NAME), "b");
  EXPECT_EQ(list.separatorsFound, (std::vector<std::string>{","}));

  // A separator as the last token leaves an element missing.
  EXPECT_EQ(test_support::messageOf([&] { list.parse({"x", "a", ",", "b", ","}, 1); }), "Missing name after ','");

  list.reset();
  EXPECT_TRUE(list.elements.empty());
  EXPECT_TRUE(list.separatorsFound.empty());
}

TEST(ParserKit, ElementReadersRefuseTheWrongPartType) {
  std::unique_ptr<Parser> sort = sortColumns();
  EXPECT_THROW(elementText(*sort, SORT_DESC), std::logic_error);
  EXPECT_THROW(elementCount(*sort, SORT_COLUMN), std::logic_error);
  EXPECT_THROW(elementMatched(*sort, 7), std::logic_error);
}

// One token more is refused (checked through the engine with the refused
// commands); at the limit every position still fits.
TEST(ParserKit, AListTakesAllTokensAtTheLimit) {
  ListParser list(&singleString, {","}, "name");
  const TokenList longest(MAX_TOKENS, ",");
  EXPECT_EQ(list.parse(longest, 0), 65535);
  EXPECT_EQ(list.elements.size(), 32768u);
}
