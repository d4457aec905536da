#include "parser/parser_struct.h"

unsigned short ParserStruct::run(const TokenList& tokens) {
  reset();
  return runChain(root.get(), tokens, 0);
}

void ParserStruct::reset() { resetChain(root.get()); }
