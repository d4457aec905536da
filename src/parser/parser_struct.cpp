// ParserStruct: resets its whole chain before every run, so one grammar object
// serves command after command.

#include "parser/parser_struct.h"

#include "errors/database_exception.h"

unsigned short ParserStruct::run(const TokenList& tokens) {
  reset();
  return runChain(root.get(), tokens, 0);
}

void ParserStruct::reset() { resetChain(root.get()); }

void ParserStruct::runWhole(const TokenList& tokens) {
  const unsigned short end = run(tokens);
  if (end != tokens.size()) {
    throw DatabaseException(ErrorKind::kParse, "Invalid token identified: %s", tokens[end].text.c_str());
  }
}
