#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/column_config.h"
#include "catalogue/database_lock.h"
#include "catalogue/database_schema.h"
#include "storage/table_config.h"
#include "storage/table_iterator.h"
#include "storage/tree_table.h"

class ArrowStreamReader;
class CSVReader;
struct ArrowArrayStream;

// A database: the schema catalogue of its tables plus the tables
// themselves. Constructing one reads the process-wide settings from
// ".tbconfig" in the working directory (see config.h) and throws
// DatabaseException when that file is malformed. Not copyable; shared by a
// DatabaseParser and its engine, which must not outlive it.
//
// The database owns one TreeTable per table; table n of the schema is tree
// n. References and iterators handed out stay valid until the table takes
// rows, is rebuilt or is dropped. Each table has a change counter that
// rises whenever that happens, so that a query result can tell whether the
// rows it refers to are still there.
//
// A table created without tree levels keeps its rows plain until a load
// takes it past CONFIG_LINES_THRESHOLD rows; it is then rebuilt as a tree
// configured from its rows. When a rebuild finds no column fit to be a
// level, the next attempt waits until the row count has doubled, so that
// loading stays linear in the number of rows.
//
// Levels the table chose itself (by sampling, or at that rebuild) give way:
// when one of them can number no more values, the load goes on with the
// table rebuilt without that level, its column plain and the rows in the
// order the table read them. Levels named with `cat` refuse the value and
// fail the load.
class Database : public DatabaseSchema {
 public:
  Database();

  // CREATE TABLE ... CONFIG FROM: a new empty table configured from a
  // sample of the whole CSV file, its fields separated by `separator`. The
  // category numbers of `columns` play no part. A file without data rows
  // gives a table without tree levels.
  void configTable(std::string tableName, const std::string& fileName,
                   const std::vector<ColumnConfig>& columns, char separator = ',');
  // CREATE TABLE without CONFIG FROM: a new empty table whose tree levels
  // are the columns with a category number, in ascending number order; left
  // unconfigured when no column has one.
  void tableInit(const std::string& tableName, const std::vector<ColumnConfig>& columns);
  // LOAD: appends the rows of a CSV file, its fields separated by
  // `separator`, to the table, all or none: a bad row ends the load with its
  // message, naming the file and the line, and leaves the table as it was
  // before the load (results read from it before stay valid). A file that
  // cannot be read, or a value of it, fails with ErrorKind::kLoad, as does
  // the sampling of configTable.
  void loadFile(const std::string& tableName, const std::string& fileName, char separator = ',');
  // CREATE TABLE ... CONFIG FROM an Arrow stream: as configTable, sampling
  // the stream's rows (columns matched by position; see
  // arrow_stream_reader.h). Takes the stream over, also when it fails.
  void configTableFromStream(std::string tableName, ArrowArrayStream& stream,
                             const std::vector<ColumnConfig>& columns);
  // LOAD from an Arrow stream: appends its rows to the table as loadFile
  // appends a file's, all or none, the stream read on the calling thread.
  // Takes the stream over, also when it fails.
  void loadStream(const std::string& tableName, ArrowArrayStream& stream);
  // Replaces an unconfigured table by a tree configured from its rows,
  // holding the same rows. A table that already has tree levels, or no
  // rows, is left as it is; so is one whose rows qualify no column.
  void constructTreeTable(const std::string& tableName);
  // DROP TABLE: destroys the table and removes it from the catalogue; the
  // tables after it move down by one number.
  void deleteTable(const std::string& tableName);
  // Drops every table and marks the database closed for good; closing a
  // closed database does nothing.
  void close();
  bool isClosed() const { return closed_.load(std::memory_order_acquire); }
  // Throws DatabaseException "Database is closed" once the database is.
  void requireOpen() const;

  // The configuration of the named table.
  TableConfig& getTableConfig(const std::string& tableName);
  // An iterator over the named table, before its first row.
  TableIterator getTableIterator(const std::string& tableName) const;
  // Writes the named table as CSV lines to `fileName`.
  void writeTable(const std::string& tableName, const std::string& fileName) const;

  // The tree of table number `table`. Throws "Table number %d is not
  // defined" for a number without a table.
  TreeTable& getTreeTable(unsigned short table) const;
  // The change counter of table number `table` (same failure). It rises
  // on every load that adds rows, on every rebuild and on the drop; it
  // stays readable after the table is gone.
  std::shared_ptr<const uint64_t> getTableChanges(unsigned short table) const;

  // The lock every call into this database, or into anything made from
  // it, holds for its work (see database_lock.h).
  DatabaseLock& lock() const { return lock_; }

 private:
  // One table's storage and bookkeeping.
  struct StoredTable {
    std::unique_ptr<TreeTable> tree;
    std::shared_ptr<uint64_t> changes;  // see getTableChanges
    uint64_t rebuildAt = 0;             // fewest rows for the next rebuild attempt
    bool namedLevels = false;           // levels given with `cat`, which never give way
  };

  // Refuses an empty name, a name already in use (with `existsMessage`), a
  // table without columns and a column name given twice.
  void requireNewTable(const std::string& tableName, const std::vector<ColumnConfig>& columns,
                       const char* existsMessage) const;
  // Registers a finished tree under the name, after every check has passed.
  void addStoredTable(const std::string& tableName, const std::vector<ColumnConfig>& columns,
                      std::unique_ptr<TreeTable> tree);
  const StoredTable& stored(unsigned short table) const;
  // Whether the table must be rebuilt before it takes another row.
  static bool needsRebuild(const StoredTable& table);
  // Adds every row of `reader` (a CSVReader or a ParallelCSVReader) to the
  // table, rebuilding it as a tree when it grows past the threshold;
  // `replaced` takes the tree a rebuild replaces.
  template <class Reader>
  static void appendRows(StoredTable& table, Reader& reader, std::unique_ptr<TreeTable>& replaced);
  // Loads `fileName` into the table, on CONFIG_THREADS threads, all its
  // rows or none.
  void loadRows(StoredTable& table, unsigned short number, const std::string& fileName, char separator);
  // Adds every row of `reader` to the table, all or none.
  template <class Reader>
  static void loadAll(StoredTable& table, Reader& reader);
  // The names of table `number`'s columns, in column order.
  std::vector<std::string> columnNames(unsigned short number) const;
  // The tree that constructTreeTable puts in place of the table's tree, or
  // null when the table stays as it is.
  static std::unique_ptr<TreeTable> rebuiltAsTree(StoredTable& table);
  // Adds rows of the stream's current block to the table from its current
  // row (the load's row number `row`), as far as TreeTable::addBlock takes
  // them without an interrupt check or a rebuild falling among them; 0
  // when the current row must be added on its own.
  static uint32_t addBlock(StoredTable& table, ArrowStreamReader& reader, unsigned row);
  // Adds the row to the table during a load; a level the table chose that
  // cannot number the row's value is dropped (dropLevel) and the row added
  // again.
  static void addLoadedRow(StoredTable& table, NodeIterator& row, const char* const* texts,
                           const size_t* textBytes, std::unique_ptr<TreeTable>& replaced);
  // Replaces the table during a load by a tree without the level of
  // `column`, holding the same rows in the order the table reads them.
  static void dropLevel(StoredTable& table, unsigned short column, std::unique_ptr<TreeTable>& replaced);
  // Puts `tree` in place of the table's tree during a load; `replaced`
  // keeps the tree the load began with, which a failed load restores.
  static void replaceDuringLoad(StoredTable& table, std::unique_ptr<TreeTable> tree,
                                std::unique_ptr<TreeTable>& replaced);

  std::vector<StoredTable> trees;  // index is the table number
  mutable DatabaseLock lock_;
  // Set under the lock; read also without it (an interrupt request).
  std::atomic<bool> closed_{false};
};
