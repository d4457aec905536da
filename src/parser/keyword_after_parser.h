#pragma once

#include <string>

#include "parser/parser.h"

// Matches one keyword in any letter case, but only directly after a given
// token (also in any case): "not" in "x is not null", where after any other
// operator the same word is a value to compare with. Consumes nothing
// elsewhere.
class KeywordAfterParser : public Parser {
 public:
  // Both words are stored in lower case.
  KeywordAfterParser(const std::string& keyword, const std::string& after);

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override { matched = false; }
  std::string describe() const override { return "'" + keyword + "'"; }

  const std::string keyword;  // lower case
  const std::string after;    // lower case
  bool matched = false;       // whether the last parse consumed the keyword
};
