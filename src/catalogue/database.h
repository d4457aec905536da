#pragma once

#include <string>
#include <vector>

#include "catalogue/column_config.h"
#include "catalogue/database_schema.h"

// A database: the schema catalogue of its tables plus the tables
// themselves. Constructing one reads the process-wide settings from
// ".tbconfig" in the working directory (see config.h) and throws
// DatabaseException when that file is malformed. Not copyable; shared by a
// DatabaseParser and its engine, which must not outlive it.
class Database : public DatabaseSchema {
 public:
  Database();

  // CREATE TABLE ... CONFIG FROM: a new empty table configured from a
  // sample of the CSV file.
  void configTable(std::string tableName, const std::string& fileName,
                   const std::vector<ColumnConfig>& columns);
  // CREATE TABLE without CONFIG FROM: a new empty table configured from the
  // category numbers of the columns, or left unconfigured.
  void tableInit(const std::string& tableName, const std::vector<ColumnConfig>& columns);
  // LOAD: appends the rows of a CSV file to the table.
  void loadFile(const std::string& tableName, const std::string& fileName);
  // DROP TABLE: destroys the table and removes it from the catalogue.
  void deleteTable(const std::string& tableName);
};
