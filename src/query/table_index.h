#pragma once

#include <memory>
#include <string>

#include "query/index_set.h"

class Database;

// A handle on an index over one column of one table, for looking values up
// from native code. Copies share the index and its position; the index (and
// the database, when given) lives until the last copy goes. Once the table
// changes, every lookup throws DatabaseException.
class TableIndex {
 public:
  // Takes over the index; `database` is kept alive as long as the index.
  explicit TableIndex(std::unique_ptr<IndexSet> index,
                      std::shared_ptr<Database> database = nullptr);

  // See IndexSet::findRow and IndexSet::checkNextRow; `key` points at a
  // value in the stored form of the column's type (text for STRING).
  bool findRow(const void* key);
  bool checkNextRow(const void* key);
  // Text of column `col` of the row on which the index stands. Throws when
  // no lookup has positioned the index or `col` is not a column.
  std::string getString(unsigned short col);
  // Rows in the index.
  uint32_t getNumberOfRows() const { return index_->rowCount; }

 private:
  // Declared before the index so that the index is destroyed first.
  std::shared_ptr<Database> database_;
  std::shared_ptr<IndexSet> index_;
};
