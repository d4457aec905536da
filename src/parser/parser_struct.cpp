// ParserStruct: resets its whole chain before every run, so one grammar object
// serves command after command.

#include "parser/parser_struct.h"

unsigned short ParserStruct::run(const TokenList& tokens) {
  reset();
  return runChain(root.get(), tokens, 0);
}

void ParserStruct::reset() { resetChain(root.get()); }
