#pragma once

#include <string>

#include "parser/parser.h"

// Accepts any single token, keywords and separators included, and records
// its text with the letter case kept.
class StringParser : public Parser {
 public:
  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override { value.clear(); }

  std::string value;  // the token of the last parse; empty before one
};
