#pragma once

#include <memory>
#include <set>
#include <string>

#include "parser/parser.h"

// Element chains of the repeated parts of the statements. Each factory
// returns the head of a new chain that the caller owns; the enumerations
// give the position of each part as reached with Parser::next(k).

// The connectors accepted between conditions, compared exactly (lower case).
inline const std::set<std::string> booleanops{"and", "or"};

// Select list element: a column, or a function applied to one:
// name [ "(" argument ")" ], as in "amount" or "sum ( amount )".
enum ColPart : unsigned short {
  COL_NAME = 0,      // StringParser: the column, or the function
  COL_OPEN = 1,      // StatementParser "(", optional
  COL_ARGUMENT = 2,  // StringParser, dependent
  COL_CLOSE = 3,     // StatementParser ")", dependent
};
std::unique_ptr<Parser> colParser();

// Where clause element: { "(" } column operator [ "not" ] value { ")" },
// where "not" counts only after the operator "is" ("x is not null").
enum CondPart : unsigned short {
  COND_OPEN_BRACKETS = 0,   // RepeatedStatementParser "(", optional
  COND_COLUMN = 1,          // StringParser
  COND_OPERATOR = 2,        // StringParser
  COND_NOT = 3,             // KeywordAfterParser "not" after "is", optional
  COND_VALUE = 4,           // StringParser, may be a placeholder
  COND_CLOSE_BRACKETS = 5,  // RepeatedStatementParser ")", optional
};
std::unique_ptr<Parser> condParser();

// Order clause element: a select list element, then [ "desc" ].
enum SortPart : unsigned short {
  SORT_COLUMN = 0,  // the select list element's parts, COL_NAME to COL_CLOSE
  SORT_DESC = 4,    // StatementParser "desc", optional
};
std::unique_ptr<Parser> sortColumns();

// Create column definition: name type [ "cat" number ] [ "null" ].
enum CreateColPart : unsigned short {
  CREATE_COL_NAME = 0,        // StringParser
  CREATE_COL_TYPE = 1,        // StringParser
  CREATE_COL_CAT = 2,         // StatementParser "cat", optional
  CREATE_COL_CAT_NUMBER = 3,  // StringParser, dependent
  CREATE_COL_NULL = 4,        // StatementParser "null", optional
};
std::unique_ptr<Parser> createColParser();

// Join clause: "join" table "on" column "=" column. Everything after "join"
// depends on it, so an element not starting with "join" consumes nothing.
enum JoinPart : unsigned short {
  JOIN_KEYWORD = 0,        // StatementParser "join", optional
  JOIN_TABLE = 1,          // StringParser
  JOIN_ON = 2,             // StatementParser "on"
  JOIN_FIRST_COLUMN = 3,   // StringParser
  JOIN_EQUALS = 4,         // StatementParser "="
  JOIN_SECOND_COLUMN = 5,  // StringParser
};
std::unique_ptr<Parser> joinParser();

// Readers of a part of an element chain; `k` must name a part of the kind
// read (a mismatch is a programming error and throws std::logic_error).
// The text recorded by the StringParser at part k.
const std::string& elementText(Parser& element, unsigned short k);
// The parameter the token of the StringParser at part k stands for, or
// Token::kNoParameter.
unsigned short elementParameter(Parser& element, unsigned short k);
// Whether the StatementParser or KeywordAfterParser at part k matched.
bool elementMatched(Parser& element, unsigned short k);
// How many repetitions the RepeatedStatementParser at part k found.
unsigned short elementCount(Parser& element, unsigned short k);
