// StringParser: takes whatever single token comes next, as a name or a value.

#include "parser/string_parser.h"

#include "errors/database_exception.h"

unsigned short StringParser::parse(const TokenList& tokens, unsigned short position) {
  const Token& token = tokens[position];
  if (token.isPlaceholder() && !takesParameter_) {
    throw DatabaseException(ErrorKind::kParse,
                            "Placeholder ? at pos %d cannot stand for the %s: a parameter is a value or a file name",
                            static_cast<int>(position), what_.c_str());
  }
  value = token.text;
  parameter = token.parameter;
  return 1;
}
