// KeywordAfterParser: a keyword that counts only after a given token.

#include "parser/keyword_after_parser.h"

KeywordAfterParser::KeywordAfterParser(const std::string& keyword, const std::string& after)
    : keyword(toLower(keyword)), after(toLower(after)) {}

unsigned short KeywordAfterParser::parse(const TokenList& tokens, unsigned short position) {
  matched = position > 0 && toLower(tokens[position - 1].text) == after && toLower(tokens[position].text) == keyword;
  return matched ? 1 : 0;
}
