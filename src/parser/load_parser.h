#pragma once

#include "parser/parser_struct.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

// Grammar of: "load" table-name "from" file-name [ "separator" character ].
// The member pointers point into the grammar's own chain and live as long
// as the grammar.
class LoadParser : public ParserStruct {
 public:
  LoadParser();

  StatementParser* load;  // "load", the root
  StringParser* tableName;
  StatementParser* from;  // "from"
  StringParser* fileName;
  StatementParser* separator;  // "separator", optional
  StringParser* separatorText; // dependent
};
