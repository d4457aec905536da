#include "query/table_set.h"

#include <cstdint>
#include <cstring>

#include "storage/tree_table.h"

TableSet::TableSet(std::vector<unsigned short> selected) : selectedColumns(std::move(selected)) {}

TableSet::TableSet(std::unique_ptr<TableIterator> iterator, std::vector<unsigned short> selected)
    : selectedColumns(std::move(selected)), iterator_(std::move(iterator)) {}

void TableSet::setIterator(std::unique_ptr<TableIterator> iterator) {
  iterator_ = std::move(iterator);
}

bool TableSet::nextRow() {
  if (!iterator_->nextRow()) {
    return false;
  }
  ++currentRow;
  return true;
}

void TableSet::addCurrentRow() {
  NodeTable* const node = iterator_->node;
  const uint32_t offset = static_cast<uint32_t>(iterator_->rows.current - node->start());
  reserve(kRowWidth);
  std::memcpy(position, &node, sizeof node);
  std::memcpy(position + sizeof node, &offset, sizeof offset);
  position += kRowWidth;
  ++rowCount;
}

void TableSet::setRowDerived(unsigned int row) {
  const char* reference = start() + static_cast<size_t>(row) * kRowWidth;
  NodeTable* node;
  uint32_t offset;
  std::memcpy(&node, reference, sizeof node);
  std::memcpy(&offset, reference + sizeof node, sizeof offset);
  TableIterator& it = *iterator_;
  it.node = node;
  it.pathIndex = node->pathIndex;
  it.beforeFirst = false;
  it.rows.config = node->config;
  it.rows.level = node->level;
  it.rows.end = node->position;
  it.rows.current = node->start() + offset;
}

DATA_TYPE TableSet::getSelectDataType(unsigned short k) {
  return table().columnTypes[selectedColumns[k]];
}

std::string TableSet::getSelectString(unsigned short k) {
  return iterator_->getString(selectedColumns[k]);
}

std::string TableSet::getString(unsigned short col) { return iterator_->getString(col); }

void* TableSet::getSelectPointer(unsigned short k) {
  return iterator_->getPointer(selectedColumns[k]);
}

void* TableSet::getPointer(unsigned short col) { return iterator_->getPointer(col); }

void* TableSet::getPointerPath(unsigned short col) {
  const TreeTable& t = table();
  const unsigned short index = t.columnIndex[col];
  NodeIterator& rows = iterator_->rows;
  if (t.isPlain[col] != 0) {
    return rows.getPointer(index);
  }
  // The node's path holds the number when the level is fixed for the node;
  // otherwise the row carries its own copy just before its plain part.
  const unsigned short* path = t.branches.getPath(iterator_->pathIndex);
  if (path[index] != 0) {
    return const_cast<unsigned short*>(path + index);
  }
  return rows.current - 2 * static_cast<size_t>(t.numCategories - index);
}

unsigned short TableSet::getNumberOfSelectCols() {
  return static_cast<unsigned short>(selectedColumns.size());
}

unsigned short TableSet::getNumberOfCols() { return table().numColumns; }
