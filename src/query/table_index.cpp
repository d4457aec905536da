// TableIndex: every lookup and read checks first that the table is unchanged (a
// read also that the index stands on a row), then asks the IndexSet.

#include "query/table_index.h"

#include "errors/database_exception.h"

TableIndex::TableIndex(std::unique_ptr<IndexSet> index, std::shared_ptr<Database> database)
    : database_(std::move(database)), index_(std::move(index)) {}

bool TableIndex::findRow(const void* key) {
  index_->checkValid();
  return index_->findRow(key);
}

bool TableIndex::checkNextRow(const void* key) {
  index_->checkValid();
  return index_->checkNextRow(key);
}

std::string TableIndex::getString(unsigned short col) {
  index_->checkValid();
  if (!index_->isPositioned()) {
    throw DatabaseException("The index does not stand on a row");
  }
  if (col >= index_->getNumberOfCols()) {
    throw DatabaseException("Column %d is out of range: the table has %d columns", col,
                            index_->getNumberOfCols());
  }
  return index_->getString(col);
}
