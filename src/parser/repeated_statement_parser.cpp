// RepeatedStatementParser: counts how often a keyword repeats from the current
// token on, as the brackets around a condition do.

#include "parser/repeated_statement_parser.h"

RepeatedStatementParser::RepeatedStatementParser(const std::string& keyword)
    : keyword(toLower(keyword)) {}

unsigned short RepeatedStatementParser::parse(const TokenList& tokens, unsigned short position) {
  count = 0;
  for (size_t i = position; i < tokens.size() && toLower(tokens[i].text) == keyword; ++i) {
    ++count;
  }
  return count;
}
