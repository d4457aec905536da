#pragma once

#include <set>
#include <string>

#include "parser/parser.h"

// Matches one keyword in any letter case, but only when a token follows it
// that is none of `notBefore` (compared in lower case): "distinct" in
// "select distinct a", where "select distinct from t" and
// "select distinct, a from t" still name a column "distinct". Consumes
// nothing elsewhere.
class KeywordBeforeParser : public Parser {
 public:
  // The keyword and the words are stored in lower case.
  KeywordBeforeParser(const std::string& keyword, const std::set<std::string>& notBefore);

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override { matched = false; }
  std::string describe() const override { return "'" + keyword + "'"; }

  const std::string keyword;              // lower case
  const std::set<std::string> notBefore;  // lower case
  bool matched = false;                   // whether the last parse consumed the keyword
};
