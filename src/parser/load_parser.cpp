// The LOAD grammar as a parser chain.

#include "parser/load_parser.h"

LoadParser::LoadParser()
    : load(append(std::make_unique<StatementParser>("load"))),
      tableName(append(std::make_unique<StringParser>())),
      from(append(std::make_unique<StatementParser>("from"))),
      fileName(append(std::make_unique<StringParser>())) {}
