#pragma once

#include <memory>
#include <string>
#include <vector>

#include "parser/parameter_value.h"
#include "query/query_set.h"
#include "query/table_index.h"

class Database;
class DatabaseLock;
class ParserEngine;

// The facade behind the Python class DatabaseParser: owns one command engine
// exclusively and holds its database by shared ownership, so the tables live
// until the last DatabaseParser (or cursor) sharing the database goes. A copy
// shares the database and gets an engine of its own. Every failure is thrown
// as DatabaseException; the object stays usable after one. Calls are made
// under the database's lock (lock()), which the caller takes; the
// destructor takes it itself.
class DatabaseParser {
 public:
  // A new, empty database (reading ".tbconfig" from the working directory,
  // which throws when the file is malformed) and an engine bound to it.
  DatabaseParser();
  DatabaseParser(const DatabaseParser& other);
  DatabaseParser& operator=(const DatabaseParser&) = delete;
  ~DatabaseParser();

  // Runs a CREATE, LOAD or DROP statement. With `parameters` (null: none
  // given) every "?" of the command is a placeholder they fill in order.
  void executeCommand(const char* command, const Parameters* parameters = nullptr);
  // Runs a SELECT statement, `parameters` as above; the cursor keeps the
  // database alive.
  QuerySet executeSelect(const char* command, const Parameters* parameters = nullptr);
  // Drops every table, freeing their memory now, and closes the database
  // for this object, its copies and its cursors: every later call and read
  // throws "Database is closed". Closing again does nothing.
  void close();
  // Throws "Database is closed" once the database is.
  void requireOpen() const;
  // Replaces `names` with the table names in table-number order.
  void listTables(std::vector<std::string>& names) const;
  // An index over one column of one table, owning everything it reads
  // through. Throws "Table %s does not contain column %s" for a column the
  // table lacks.
  TableIndex createIndex(std::string table, std::string column);
  // The lock of the database, shared with its copies and cursors.
  DatabaseLock& lock() const;

 private:
  // Declared first so that the engine, which refers to it, goes first.
  std::shared_ptr<Database> database_;
  std::unique_ptr<ParserEngine> engine_;
};
