#pragma once

#include "storage/data_iterator.h"
#include "storage/node_config.h"
#include "storage/node_table.h"

// Walks packed rows in one block laid out by a NodeConfig. Each row is
// `level` category numbers followed by the plain part, as NodeTable lays
// them out. The iterator neither owns the block nor the layout: both must
// outlive it and the block must not move while it is read. The first row
// is current right after construction; nextRow() answers whether another
// row followed.
class NodeIterator : public DataIterator {
 public:
  NodeIterator() = default;
  // Iterates the rows in [rows, end); `rows` is the first byte of the first
  // row (its category numbers). An empty range has no current row.
  NodeIterator(char* rows, char* end, const NodeConfig* config, unsigned short level);

  // Repositions the iterator on a new range, as the constructor does.
  void reset(char* rows, char* end, const NodeConfig* config, unsigned short level);

  // Moves past the current row; false when no row follows (and on every
  // later call).
  bool nextRow() override;
  // Pointer to the value of `column` in the current row (a fixed-width value
  // by offset, a text by walking the texts before it); nullptr for a NULL
  // and for a column outside the layout.
  void* getPointer(unsigned short column) override;

  // True while `current` stands on a row.
  bool hasRow() const { return current < end; }

  char* current = nullptr;             // plain part of the current row
  char* end = nullptr;                 // just past the last row
  const NodeConfig* config = nullptr;  // layout of the plain part
  unsigned short level = 0;            // category numbers before each plain part
};
