// The CREATE TABLE grammar as a parser chain; CONFIG FROM and its file name are
// optional together, and a SEPARATOR clause may follow them.

#include "parser/create_parser.h"

#include "parser/grammar_elements.h"

CreateParser::CreateParser()
    : create(append(std::make_unique<StatementParser>("create"))),
      table(append(std::make_unique<StatementParser>("table"))),
      tableName(append(std::make_unique<StringParser>("table name"))),
      openBracket(append(std::make_unique<StatementParser>("("))),
      columnList(append(std::make_unique<ListParser>(&createColParser, std::set<std::string>{","}, "column definition"))),
      closeBracket(append(std::make_unique<StatementParser>(")"))),
      config(append(std::make_unique<StatementParser>("config"))),
      from(append(std::make_unique<StatementParser>("from"))),
      fileName(append(std::make_unique<StringParser>("file name", true))),
      separator(append(std::make_unique<StatementParser>("separator"))),
      separatorText(append(std::make_unique<StringParser>("separator character"))) {
  config->optional = true;
  from->dependent = true;
  fileName->dependent = true;
  // Without "config" the whole clause is skipped; after its file name the
  // separator may be left out.
  separator->dependent = true;
  separator->optional = true;
  separatorText->dependent = true;
}
