#pragma once

#include "parser/parser_struct.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

// Grammar of: "drop" "table" table-name. The member pointers point into the
// grammar's own chain and live as long as the grammar.
class DropParser : public ParserStruct {
 public:
  DropParser();

  StatementParser* drop;     // "drop", the root
  StatementParser* table;    // "table"
  StringParser* tableName;
};
