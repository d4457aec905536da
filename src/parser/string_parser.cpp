// StringParser: takes whatever single token comes next, as a name or a value.

#include "parser/string_parser.h"

unsigned short StringParser::parse(const TokenList& tokens, unsigned short position) {
  value = tokens[position];
  return 1;
}
