// KeywordBeforeParser: a keyword that counts only before a word that could
// follow a column of the same name.

#include "parser/keyword_before_parser.h"

namespace {

std::set<std::string> lowered(const std::set<std::string>& words) {
  std::set<std::string> lower;
  for (const std::string& word : words) lower.insert(toLower(word));
  return lower;
}

}  // namespace

KeywordBeforeParser::KeywordBeforeParser(const std::string& keyword, const std::set<std::string>& notBefore)
    : keyword(toLower(keyword)), notBefore(lowered(notBefore)) {}

unsigned short KeywordBeforeParser::parse(const TokenList& tokens, unsigned short position) {
  matched = toLower(tokens[position].text) == keyword && size_t{position} + 1 < tokens.size() &&
            notBefore.count(toLower(tokens[position + 1].text)) == 0;
  return matched ? 1 : 0;
}
