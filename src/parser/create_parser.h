#pragma once

#include "parser/list_parser.h"
#include "parser/parser_struct.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

// Grammar of:
//   "create" "table" name "(" column-definition { "," column-definition } ")"
//   [ "config" "from" file-name [ "separator" character ] ]
// with column definitions from createColParser(). "config" is optional and
// the parts after it depend on it; "separator" is optional in turn. The member pointers point into the
// grammar's own chain and live as long as the grammar.
class CreateParser : public ParserStruct {
 public:
  CreateParser();

  StatementParser* create;        // "create", the root
  StatementParser* table;         // "table"
  StringParser* tableName;
  StatementParser* openBracket;   // "("
  ListParser* columnList;         // column definitions, separated by ","
  StatementParser* closeBracket;  // ")"
  StatementParser* config;        // "config", optional
  StatementParser* from;          // "from", dependent
  StringParser* fileName;         // dependent
  StatementParser* separator;     // "separator", dependent and optional
  StringParser* separatorText;    // dependent
};
