// TableConfig: the node set orders nodes by their branch paths, read from the
// table's own path store; a column number is checked against the table.

#include "storage/table_config.h"

#include "errors/database_exception.h"

TableConfig::TableConfig() : nodes(BranchComparator{&branches}) {}

void TableConfig::requireColumn(unsigned short column) const {
  if (column >= numColumns || column >= columnTypes.size()) {
    throw DatabaseException("Column %d is not part of the table", column);
  }
}
