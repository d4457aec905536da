#pragma once

#include <string>
#include <utility>

#include "parser/parser.h"

// Accepts any single token, keywords and separators included, and records
// its text with the letter case kept.
class StringParser : public Parser {
 public:
  // `what` names the token read, such as "table name", for messages.
  explicit StringParser(std::string what) : what_(std::move(what)) {}

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override { value.clear(); }
  std::string describe() const override { return what_; }

  std::string value;  // the token of the last parse; empty before one

 private:
  const std::string what_;
};
