#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "errors/database_exception.h"
#include "parser/grammar_elements.h"
#include "parser/list_parser.h"
#include "parser/parser_struct.h"
#include "parser/repeated_statement_parser.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

namespace {

// Expects `call` to throw a DatabaseException with exactly `message`.
template <typename F>
void expectMessage(F call, const std::string& message) {
  try {
    call();
    FAIL() << "no exception, expected: " << message;
  } catch (const DatabaseException& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

// keyword "a" [optional "b"] [dependent string] [dependent string] "end"
class FlagGrammar : public ParserStruct {
 public:
  FlagGrammar()
      : first(append(std::make_unique<StatementParser>("a"))),
        optionalPart(append(std::make_unique<StatementParser>("b"))),
        dependentOne(append(std::make_unique<StringParser>())),
        dependentTwo(append(std::make_unique<StringParser>())),
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

std::unique_ptr<Parser> singleString() { return std::make_unique<StringParser>(); }

}  // namespace

TEST(ParserKit, KeywordsMatchInAnyCaseAndStringsKeepCase) {
  StatementParser keyword("SeLeCt");
  EXPECT_EQ(keyword.keyword, "select");
  const TokenList tokens{"SELECT", "Name", "selects"};
  EXPECT_EQ(keyword.parse(tokens, 0), 1);
  EXPECT_TRUE(keyword.matched);
  EXPECT_EQ(keyword.parse(tokens, 2), 0);
  EXPECT_FALSE(keyword.matched);

  StringParser text;
  EXPECT_EQ(text.parse(tokens, 1), 1);
  EXPECT_EQ(text.value, "Name");
  text.reset();
  EXPECT_EQ(text.value, "");
}

TEST(ParserKit, RepeatedKeywordCountsConsecutiveMatches) {
  RepeatedStatementParser brackets("(");
  const TokenList tokens{"(", "(", "(", "a", "("};
  EXPECT_EQ(brackets.parse(tokens, 0), 3);
  EXPECT_EQ(brackets.count, 3);
  EXPECT_EQ(brackets.parse(tokens, 3), 0);
  EXPECT_EQ(brackets.count, 0);
  EXPECT_EQ(brackets.parse(tokens, 4), 1);  // stops at the end of the tokens
  EXPECT_EQ(brackets.count, 1);
}

TEST(ParserKit, NextWalksTheChain) {
  std::unique_ptr<Parser> cond = condParser();
  EXPECT_EQ(cond->next(0), cond.get());
  EXPECT_NE(dynamic_cast<RepeatedStatementParser*>(cond->next(COND_CLOSE_BRACKETS)), nullptr);
  EXPECT_EQ(cond->next(5), nullptr);
  EXPECT_EQ(cond->next(60000), nullptr);
}

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
  expectMessage([&] { grammar.run({"a", "x", "y"}); }, "Unexpected token identified at pos 1: x");
  expectMessage([&] { grammar.run({"z"}); }, "Unexpected token identified at pos 0: z");
}

TEST(ParserKit, RunEndsWhenTokensAreUsedUp) {
  FlagGrammar grammar;
  EXPECT_EQ(grammar.run({}), 0);
  EXPECT_FALSE(grammar.first->matched);
  EXPECT_EQ(grammar.run({"a", "b"}), 2);  // mandatory "end" never reached
  EXPECT_FALSE(grammar.last->matched);
  EXPECT_EQ(grammar.run({"a", "end", "extra"}), 2);  // leftovers are the caller's
  EXPECT_TRUE(grammar.last->matched);
}

TEST(ParserKit, ListWithSeparators) {
  ListParser list(&singleString, {","});
  EXPECT_EQ(list.parse({"a", ",", "b", "from"}, 0), 3);
  ASSERT_EQ(list.elements.size(), 2u);
  EXPECT_EQ(elementText(*list.elements[1], COL_NAME), "b");
  EXPECT_EQ(list.separatorsFound, (std::vector<std::string>{","}));

  // A separator as the last token is consumed.
  EXPECT_EQ(list.parse({"x", "a", ",", "b", ","}, 1), 4);
  EXPECT_EQ(list.elements.size(), 2u);
  EXPECT_EQ(list.separatorsFound.size(), 2u);

  list.reset();
  EXPECT_TRUE(list.elements.empty());
  EXPECT_TRUE(list.separatorsFound.empty());
}

TEST(ParserKit, ListSeparatorsCompareExactly) {
  ListParser conditions(&condParser, booleanops);
  const TokenList tokens{"(", "a", "=", "1", "or", "b", "<", "2", ")", "AND", "c", "=", "3"};
  EXPECT_EQ(conditions.parse(tokens, 0), 9);
  ASSERT_EQ(conditions.elements.size(), 2u);
  EXPECT_EQ(conditions.separatorsFound, (std::vector<std::string>{"or"}));
  Parser& first = *conditions.elements[0];
  EXPECT_EQ(elementCount(first, COND_OPEN_BRACKETS), 1);
  EXPECT_EQ(elementText(first, COND_COLUMN), "a");
  EXPECT_EQ(elementText(first, COND_OPERATOR), "=");
  EXPECT_EQ(elementText(first, COND_VALUE), "1");
  EXPECT_EQ(elementCount(first, COND_CLOSE_BRACKETS), 0);
  EXPECT_EQ(elementCount(*conditions.elements[1], COND_CLOSE_BRACKETS), 1);
}

TEST(ParserKit, ListWithoutSeparatorsEndsAtAnEmptyElement) {
  ListParser joins(&joinParser, {});
  const TokenList tokens{"join", "b", "on", "x", "=", "y", "JOIN", "c", "on", "x", "=", "z", "where"};
  EXPECT_EQ(joins.parse(tokens, 0), 12);
  ASSERT_EQ(joins.elements.size(), 2u);
  EXPECT_EQ(elementText(*joins.elements[1], JOIN_TABLE), "c");
  EXPECT_EQ(elementText(*joins.elements[1], JOIN_SECOND_COLUMN), "z");

  EXPECT_EQ(joins.parse({"where"}, 0), 0);
  EXPECT_TRUE(joins.elements.empty());

  // Once "join" matched, "on" is mandatory.
  expectMessage([&] { joins.parse({"join", "b", "using", "x"}, 0); },
                "Unexpected token identified at pos 2: using");
}

TEST(ParserKit, ElementReadersRefuseTheWrongPartType) {
  std::unique_ptr<Parser> sort = sortColumns();
  EXPECT_THROW(elementText(*sort, SORT_DESC), std::logic_error);
  EXPECT_THROW(elementCount(*sort, SORT_COLUMN), std::logic_error);
  EXPECT_THROW(elementMatched(*sort, 7), std::logic_error);
}

TEST(ParserKit, TooManyTokensAreRefusedBeforeParsing) {
  FlagGrammar grammar;
  const TokenList tokens(MAX_TOKENS + 1, "a");
  expectMessage([&] { grammar.run(tokens); }, "Command has more than 65535 tokens");

  ListParser list(&singleString, {","});
  // At the limit every position still fits: the list takes all 65535 tokens.
  const TokenList longest(MAX_TOKENS, ",");
  EXPECT_EQ(list.parse(longest, 0), 65535);
  EXPECT_EQ(list.elements.size(), 32768u);
}
