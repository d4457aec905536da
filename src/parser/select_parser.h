#pragma once

#include "parser/keyword_before_parser.h"
#include "parser/list_parser.h"
#include "parser/parser_struct.h"
#include "parser/select_statement.h"
#include "parser/statement_parser.h"
#include "parser/string_parser.h"

// Grammar of:
//   "select" [ "distinct" ] column { "," column } "from" table { join }
//   [ "where" condition { connector condition } ]
//   [ "group" "by" name { "," name } ]
//   [ "order" "by" sort-column { "," sort-column } ]
//   [ "limit" number ]
// with elements from colParser(), joinParser(), condParser() and
// sortColumns(); the connectors are `booleanops`, matched in lower case
// only. The member pointers point into the grammar's own chain and live as
// long as the grammar.
class SelectParser : public ParserStruct {
 public:
  SelectParser();

  // What the last run recorded, as a statement of plain text.
  SelectStatement statement() const;

  StatementParser* select;   // "select", the root
  KeywordBeforeParser* distinct;  // "distinct", optional
  ListParser* columnList;    // selected columns, separated by ","
  StatementParser* from;     // "from"
  StringParser* tableName;
  ListParser* joinList;      // join clauses back to back, optional
  StatementParser* where;    // "where", optional
  ListParser* conditionList; // conditions separated by "and" / "or", dependent
  StatementParser* group;    // "group", optional
  StatementParser* groupBy;  // "by", dependent
  ListParser* groupList;     // grouping columns separated by ",", dependent
  StatementParser* order;    // "order", optional
  StatementParser* by;       // "by", dependent
  ListParser* sortList;      // sort columns separated by ",", dependent
  StatementParser* limit;    // "limit", optional
  StringParser* limitValue;  // dependent
};
