// ListParser: a fresh element chain per element, until an element consumes
// nothing or the token after one is not a separator.

#include "parser/list_parser.h"

#include <utility>

#include "errors/database_exception.h"

ListParser::ListParser(ElementFactory factory, std::set<std::string> separators, std::string element)
    : separators(std::move(separators)), factory_(factory), element_(std::move(element)) {}

void ListParser::reset() {
  elements.clear();
  separatorsFound.clear();
}

unsigned short ListParser::parse(const TokenList& tokens, unsigned short position) {
  reset();
  size_t current = position;
  while (current < tokens.size()) {
    std::unique_ptr<Parser> element = factory_();
    const size_t end = runChain(element.get(), tokens, static_cast<unsigned short>(current));
    if (end == current) break;
    elements.push_back(std::move(element));
    current = end;
    if (current == tokens.size() || separators.empty()) continue;
    if (separators.count(tokens[current].text) == 0) break;
    separatorsFound.push_back(tokens[current].text);
    ++current;
    if (current == tokens.size()) {
      throw DatabaseException(ErrorKind::kParse, "Missing %s after '%s'", element_.c_str(), tokens.back().text.c_str());
    }
  }
  return static_cast<unsigned short>(current - position);
}
