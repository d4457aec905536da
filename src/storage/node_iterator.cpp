// Stepping through the packed rows of one block.

#include "storage/node_iterator.h"

NodeIterator::NodeIterator(char* rows, char* end, const NodeConfig* config,
                           unsigned short level) {
  reset(rows, end, config, level);
}

void NodeIterator::reset(char* rows, char* rowsEnd, const NodeConfig* layout,
                         unsigned short rowLevel) {
  end = rowsEnd;
  config = layout;
  level = rowLevel;
  current = rows < rowsEnd ? rows + NodeTable::numbersBytes(rowLevel) : rowsEnd;
}

bool NodeIterator::nextRow() {
  if (current >= end) return false;
  current += config->rowLength(current);
  if (current >= end) {
    current = end;
    return false;
  }
  current += NodeTable::numbersBytes(level);
  return true;
}

void* NodeIterator::getPointer(unsigned short column) {
  if (config->isNull(current, column)) return nullptr;
  return const_cast<char*>(config->valueAt(current, column));
}
