// TableIterator: nodes in branch-path order, a node's rows in insertion order,
// categorised columns decoded through their maps.

#include "storage/table_iterator.h"

#include "errors/database_exception.h"
#include "storage/tree_table.h"

TableIterator::TableIterator(const TreeTable* table)
    : node(nullptr),
      table(table),
      nodes(&table->nodes),
      searchKey(nullptr, 0, 0, 0),
      pathIndex(0),
      newNode(true),
      beforeFirst(true) {
  if (!nodes->empty()) enterNode(*nodes->begin());
}

TableIterator::TableIterator(const TableIterator& other)
    : node(other.node),
      table(other.table),
      rows(other.rows),
      nodes(other.nodes),
      searchKey(nullptr, 0, 0, 0),
      pathIndex(other.pathIndex),
      newNode(other.newNode),
      beforeFirst(other.beforeFirst) {}

TableIterator& TableIterator::operator=(const TableIterator& other) {
  node = other.node;
  table = other.table;
  rows = other.rows;
  nodes = other.nodes;
  pathIndex = other.pathIndex;
  newNode = other.newNode;
  beforeFirst = other.beforeFirst;
  return *this;
}

void TableIterator::enterNode(NodeTable* next) {
  node = next;
  pathIndex = next->pathIndex;
  rows.reset(next->start(), next->position, next->config, next->level);
  newNode = true;
}

bool TableIterator::advanceNode() {
  searchKey.pathIndex = pathIndex;
  for (auto next = nodes->upper_bound(&searchKey); next != nodes->end(); ++next) {
    if ((*next)->used() == 0) continue;
    enterNode(*next);
    return true;
  }
  rows.current = rows.end;
  return false;
}

void TableIterator::positionAtEnd() {
  if (nodes->empty()) return;
  enterNode(*nodes->rbegin());
  rows.current = rows.end;
  beforeFirst = false;
}

bool TableIterator::nextRow() {
  if (node == nullptr) return false;
  if (beforeFirst) {
    beforeFirst = false;
    return rows.hasRow() || advanceNode();
  }
  if (rows.nextRow()) {
    newNode = false;
    return true;
  }
  return advanceNode();
}

void* TableIterator::getPointer(unsigned short column) {
  if (column >= table->numColumns) return nullptr;
  const unsigned short index = table->columnIndex[column];
  if (table->isPlain[column] != 0) {
    if (rows.config->isNull(rows.current, index)) return nullptr;
    return const_cast<char*>(rows.config->valueAt(rows.current, index));
  }
  unsigned short number = table->branches.getPath(pathIndex)[index];
  if (number == 0) {
    number = NodeTable::categoryNumberAt(rows.current + NodeTable::numberOffset(index, table->numCategories));
  }
  return table->levelMaps[index]->getValuePointer(number);
}

std::string TableIterator::getString(unsigned short column) {
  if (column >= table->numColumns) {
    throw DatabaseException("Column %d does not exist in the table", static_cast<int>(column));
  }
  void* const value = getPointer(column);
  return value == nullptr ? std::string() : getStringFromPtr(value, table->columnTypes[column]);
}
