#pragma once

#include <string>
#include <utility>

#include "parser/parser.h"

// Accepts any single token, keywords and separators included, and records
// its text with the letter case kept. A placeholder "?" is accepted only
// where a parameter may stand (a value or a file name, takesParameter);
// anywhere else it is refused, naming what the token should have been.
class StringParser : public Parser {
 public:
  // `what` names the token read, such as "table name", for messages.
  explicit StringParser(std::string what, bool takesParameter = false)
      : what_(std::move(what)), takesParameter_(takesParameter) {}

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override {
    value.clear();
    parameter = Token::kNoParameter;
  }
  std::string describe() const override { return what_; }

  std::string value;  // the token of the last parse; empty before one
  // The parameter the token of the last parse stands for, or
  // Token::kNoParameter.
  unsigned short parameter = Token::kNoParameter;

 private:
  const std::string what_;
  const bool takesParameter_;
};
