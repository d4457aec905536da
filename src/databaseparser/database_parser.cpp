// DatabaseParser: forwards commands to its engine; its cursors share the
// database, so the tables live while any cursor does.

#include "databaseparser/database_parser.h"

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "parserengine/parser_engine.h"
#include "query/index_set.h"

DatabaseParser::DatabaseParser()
    : database_(std::make_shared<Database>()), engine_(std::make_unique<ParserEngine>(*database_)) {}

DatabaseParser::DatabaseParser(const DatabaseParser& other)
    : database_(other.database_), engine_(std::make_unique<ParserEngine>(*database_)) {}

DatabaseParser::~DatabaseParser() {
  const DatabaseLock::Hold hold(&database_->lock());
  engine_.reset();
}

DatabaseLock& DatabaseParser::lock() const { return database_->lock(); }

void DatabaseParser::executeCommand(const char* command, const Parameters* parameters) {
  database_->requireOpen();
  engine_->executeCommand(command, parameters);
}

QuerySet DatabaseParser::executeSelect(const char* command, const Parameters* parameters) {
  database_->requireOpen();
  return QuerySet(engine_->executeSelect(command, parameters), database_);
}

void DatabaseParser::close() { database_->close(); }

void DatabaseParser::requireOpen() const { database_->requireOpen(); }

void DatabaseParser::listTables(std::vector<std::string>& names) const {
  database_->requireOpen();
  names.clear();
  const unsigned short count = database_->getNumberOfTables();
  for (unsigned short table = 0; table < count; ++table) {
    names.push_back(database_->getTableName(table));
  }
}

TableIndex DatabaseParser::createIndex(std::string table, std::string column) {
  database_->requireOpen();
  auto index = std::make_unique<IndexSet>();
  const unsigned short tableNumber = database_->getTableNumber(table);
  const std::vector<TableCol> found = database_->findColumn(table, column);
  if (found.size() != 1) {
    throw DatabaseException(ErrorKind::kUnknownName,
                            "Table %s does not contain column %s", table.c_str(), column.c_str());
  }
  index->initIndex(tableNumber, *database_, found.front().column);
  return TableIndex(std::move(index), database_);
}
