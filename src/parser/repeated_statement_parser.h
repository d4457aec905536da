#pragma once

#include <string>

#include "parser/parser.h"

// Matches a keyword repeated zero or more times in a row (in any letter
// case), such as the opening brackets before a condition.
class RepeatedStatementParser : public Parser {
 public:
  // `keyword` is stored in lower case.
  explicit RepeatedStatementParser(const std::string& keyword);

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override { count = 0; }
  std::string describe() const override { return "'" + keyword + "'"; }

  const std::string keyword;  // lower case
  unsigned short count = 0;   // repetitions found by the last parse
};
