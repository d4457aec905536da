// The SELECT grammar as a parser chain: joins, WHERE and ORDER BY are optional;
// the lists after WHERE and ORDER BY depend on their keyword.

#include "parser/select_parser.h"

#include "parser/grammar_elements.h"

SelectParser::SelectParser()
    : select(append(std::make_unique<StatementParser>("select"))),
      columnList(append(std::make_unique<ListParser>(&colParser, std::set<std::string>{","}, "column"))),
      from(append(std::make_unique<StatementParser>("from"))),
      tableName(append(std::make_unique<StringParser>("table name"))),
      joinList(append(std::make_unique<ListParser>(&joinParser, std::set<std::string>{}, "join"))),
      where(append(std::make_unique<StatementParser>("where"))),
      conditionList(append(std::make_unique<ListParser>(&condParser, booleanops, "condition"))),
      order(append(std::make_unique<StatementParser>("order"))),
      by(append(std::make_unique<StatementParser>("by"))),
      sortList(append(std::make_unique<ListParser>(&sortColumns, std::set<std::string>{","}, "sort column"))) {
  joinList->optional = true;
  where->optional = true;
  conditionList->dependent = true;
  order->optional = true;
  by->dependent = true;
  sortList->dependent = true;
}
