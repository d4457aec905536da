#pragma once

#include <string>

#include "parser/parser.h"

// Matches one keyword in any letter case: consumes the token when its lower
// case form equals the keyword, else consumes nothing.
class StatementParser : public Parser {
 public:
  // `keyword` is stored in lower case.
  explicit StatementParser(const std::string& keyword);

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override { matched = false; }
  std::string describe() const override { return "'" + keyword + "'"; }

  const std::string keyword;  // lower case
  bool matched = false;       // whether the last parse consumed the keyword
};
