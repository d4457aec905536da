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

namespace {

// The parser after `parser` that a run applies when `parser` consumed
// `consumed` tokens: an empty match skips the dependent parsers after it.
Parser* following(Parser* parser, unsigned short consumed) {
  Parser* next = parser->successor.get();
  while (consumed == 0 && next != nullptr && next->dependent) next = next->successor.get();
  return next;
}

// The tokens ran out with `rest` still to apply: each part left must be one
// the chain may leave out, else the statement stops short of it.
void requireOptionalRest(Parser* rest, const TokenList& tokens) {
  for (Parser* current = rest; current != nullptr; current = following(current, 0)) {
    if (!current->optional) {
      throw DatabaseException(ErrorKind::kParse, "Missing %s after '%s'", current->describe().c_str(),
                              tokens.back().text.c_str());
    }
  }
}

}  // namespace

unsigned short runChain(Parser* head, const TokenList& tokens, unsigned short position) {
  checkTokenCount(tokens);
  if (tokens.empty()) return position;
  Parser* current = head;
  while (current != nullptr && position < tokens.size()) {
    const unsigned short consumed = current->parse(tokens, position);
    if (consumed == 0 && !current->optional) {
      throw DatabaseException(ErrorKind::kParse, "Unexpected token identified at pos %d: %s",
                              static_cast<int>(position), tokens[position].text.c_str());
    }
    position = static_cast<unsigned short>(position + consumed);
    current = following(current, consumed);
  }
  requireOptionalRest(current, tokens);
  return position;
}

void resetChain(Parser* head) {
  for (Parser* current = head; current != nullptr; current = current->successor.get()) {
    current->reset();
  }
}

void checkTokenCount(const TokenList& tokens) {
  if (tokens.size() > MAX_TOKENS) {
    throw DatabaseException(ErrorKind::kParse, "Command has more than %d tokens", static_cast<int>(MAX_TOKENS));
  }
}

std::string toLower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}
