#include "databaseparser/database_parser.h"

#include "catalogue/database.h"
#include "parserengine/parser_engine.h"

DatabaseParser::DatabaseParser()
    : database_(std::make_shared<Database>()), engine_(std::make_unique<ParserEngine>(*database_)) {}

DatabaseParser::DatabaseParser(const DatabaseParser& other)
    : database_(other.database_), engine_(std::make_unique<ParserEngine>(*database_)) {}

DatabaseParser::~DatabaseParser() = default;

void DatabaseParser::executeCommand(const char* command) { engine_->executeCommand(command); }

QuerySet DatabaseParser::executeSelect(const char* command) {
  return QuerySet(engine_->executeSelect(command), database_);
}

void DatabaseParser::listTables(std::vector<std::string>& names) const {
  names.clear();
  const unsigned short count = database_->getNumberOfTables();
  for (unsigned short table = 0; table < count; ++table) {
    names.push_back(database_->getTableName(table));
  }
}
