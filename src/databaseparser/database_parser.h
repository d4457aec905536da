#pragma once

#include <memory>
#include <string>
#include <vector>

#include "query/query_set.h"
#include "query/table_index.h"

class Database;
class DatabaseLock;
class ParserEngine;
struct ArrowArrayStream;

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

  // Runs a CREATE, LOAD or DROP statement.
  void executeCommand(const char* command);
  // Runs a LOAD or CREATE ... CONFIG FROM that reads `stream` where its
  // file name is `?`; takes the stream over (see ParserEngine).
  void executeCommand(const char* command, ArrowArrayStream& stream);
  // Runs a SELECT statement; the cursor keeps the database alive.
  QuerySet executeSelect(const char* command);
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
