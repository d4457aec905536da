// The LOAD grammar as a parser chain; the separator clause is optional.

#include "parser/load_parser.h"

LoadParser::LoadParser()
    : load(append(std::make_unique<StatementParser>("load"))),
      tableName(append(std::make_unique<StringParser>("table name"))),
      from(append(std::make_unique<StatementParser>("from"))),
      fileName(append(std::make_unique<StringParser>("file name", true))),
      separator(append(std::make_unique<StatementParser>("separator"))),
      separatorText(append(std::make_unique<StringParser>("separator character"))) {
  separator->optional = true;
  separatorText->dependent = true;
}
