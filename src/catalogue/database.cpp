#include "catalogue/database.h"

#include "catalogue/config.h"
#include "errors/database_exception.h"

Database::Database() { readConfiguration(CONFIG_FILE_NAME); }

void Database::configTable(std::string, const std::string&, const std::vector<ColumnConfig>&) {
  throw DatabaseException("CREATE TABLE is not implemented yet");
}

void Database::tableInit(const std::string&, const std::vector<ColumnConfig>&) {
  throw DatabaseException("CREATE TABLE is not implemented yet");
}

void Database::loadFile(const std::string&, const std::string&) {
  throw DatabaseException("LOAD is not implemented yet");
}

void Database::deleteTable(const std::string&) {
  throw DatabaseException("DROP TABLE is not implemented yet");
}
