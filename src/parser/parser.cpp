// Running a parser chain without backtracking: a mandatory link that consumes
// nothing fails at that token; an empty optional link skips its dependents.

#include "parser/parser.h"

#include <cctype>

#include "errors/database_exception.h"

Parser* Parser::next(unsigned short k) {
  Parser* current = this;
  for (unsigned short step = 0; step < k && current != nullptr; ++step) {
    current = current->successor.get();
  }
  return current;
}

Parser* Parser::last() {
  Parser* current = this;
  while (current->successor != nullptr) current = current->successor.get();
  return current;
}

unsigned short runChain(Parser* head, const TokenList& tokens, unsigned short position) {
  checkTokenCount(tokens);
  Parser* current = head;
  while (current != nullptr && position < tokens.size()) {
    const unsigned short consumed = current->parse(tokens, position);
    if (consumed == 0 && !current->optional) {
      throw DatabaseException("Unexpected token identified at pos %d: %s",
                              static_cast<int>(position), tokens[position].c_str());
    }
    position = static_cast<unsigned short>(position + consumed);
    current = current->successor.get();
    while (consumed == 0 && current != nullptr && current->dependent) {
      current = current->successor.get();
    }
  }
  return position;
}

void resetChain(Parser* head) {
  for (Parser* current = head; current != nullptr; current = current->successor.get()) {
    current->reset();
  }
}

void checkTokenCount(const TokenList& tokens) {
  if (tokens.size() > MAX_TOKENS) {
    throw DatabaseException("Command has more than %d tokens", static_cast<int>(MAX_TOKENS));
  }
}

std::string toLower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}
