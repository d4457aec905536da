// The DROP TABLE grammar as a parser chain.

#include "parser/drop_parser.h"

DropParser::DropParser()
    : drop(append(std::make_unique<StatementParser>("drop"))),
      table(append(std::make_unique<StatementParser>("table"))),
      tableName(append(std::make_unique<StringParser>("table name"))) {}
