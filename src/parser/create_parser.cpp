// The CREATE TABLE grammar as a parser chain; CONFIG FROM and its file name are
// optional together.

#include "parser/create_parser.h"

#include "parser/grammar_elements.h"

CreateParser::CreateParser()
    : create(append(std::make_unique<StatementParser>("create"))),
      table(append(std::make_unique<StatementParser>("table"))),
      tableName(append(std::make_unique<StringParser>())),
      openBracket(append(std::make_unique<StatementParser>("("))),
      columnList(append(std::make_unique<ListParser>(&createColParser, std::set<std::string>{","}))),
      closeBracket(append(std::make_unique<StatementParser>(")"))),
      config(append(std::make_unique<StatementParser>("config"))),
      from(append(std::make_unique<StatementParser>("from"))),
      fileName(append(std::make_unique<StringParser>())) {
  config->optional = true;
  from->dependent = true;
  fileName->dependent = true;
}
