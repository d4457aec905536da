#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "catalogue/column_config.h"

// Names one column of the schema: table number, then column number.
struct TableCol {
  unsigned short table = 0;
  unsigned short column = 0;

  bool operator==(const TableCol&) const = default;
};

// The name catalogue of a database: numbers the tables densely from 0 in
// creation order (closing up on every removal) and keeps each table's column
// names in column order. Name lookups go through `columnsByName`, which
// lists each name's columns in table, then column order; a definition only
// appends to it, so defining a table costs the same however many exist. A
// TableCol obtained before a removal is stale afterwards. Names compare
// case-sensitively, byte by byte.
class DatabaseSchema {
 public:
  DatabaseSchema() = default;
  virtual ~DatabaseSchema() = default;

  DatabaseSchema(const DatabaseSchema&) = delete;
  DatabaseSchema& operator=(const DatabaseSchema&) = delete;

  // Appends a table with the names of `columns`; its number is the previous
  // table count. Throws when the name is taken or a limit is exceeded.
  void addTable(const std::string& name, const std::vector<ColumnConfig>& columns);
  // Removes the table and renumbers those after it; an unknown name changes
  // nothing.
  void removeTable(const std::string& name);

  // Throws "Table %s is not defined" for an unknown name.
  unsigned short getTableNumber(const std::string& name) const;
  // The number of tables.
  unsigned short getNumberOfTables() const;
  // Throw for a table or column number that does not exist.
  const std::string& getTableName(unsigned short table) const;
  unsigned short getNumberOfColumns(const std::string& name) const;
  const std::string& getColName(unsigned short table, unsigned short column) const;
  const std::string& getColName(TableCol column) const;

  // Whether any table has a column of that name.
  bool containsColumn(const std::string& column) const;
  // Whether the named table has a column of that name.
  bool containsColumn(const std::string& table, const std::string& column) const;

  // Every column of that name (in table, then column order), the columns of
  // that name in the named table, and every column of the named table in
  // column order (none for an unknown table).
  std::vector<TableCol> findAllByColumnName(const std::string& column) const;
  std::vector<TableCol> findColumn(const std::string& table, const std::string& column) const;
  std::vector<TableCol> findAllByTableName(const std::string& table) const;

 protected:
  // The catalogue entry of one table.
  struct TableEntry {
    std::string name;
    std::vector<std::string> columnNames;
    unsigned short numColumns = 0;
  };

  std::vector<TableEntry> tables;                      // index is the table number
  std::map<std::string, std::vector<TableCol>> columnsByName;  // name -> its columns
  std::map<std::string, unsigned short> tableNumbers;  // name -> table number

 private:
  // The entry of a table number; throws when there is no such table.
  const TableEntry& entry(unsigned short table) const;
  // Drops the columns of table number `removed` from columnsByName and
  // renumbers those of the tables after it.
  void forgetColumnsOf(unsigned short removed);
  // Calls `visit` for every column named `column`, in table, then column
  // order, until it returns false.
  template <typename Visit>
  void forEachNamed(const std::string& column, Visit visit) const;
};
