// StatementParser: matches one keyword in any letter case.

#include "parser/statement_parser.h"

StatementParser::StatementParser(const std::string& keyword) : keyword(toLower(keyword)) {}

unsigned short StatementParser::parse(const TokenList& tokens, unsigned short position) {
  matched = toLower(tokens[position].text) == keyword;
  return matched ? 1 : 0;
}
