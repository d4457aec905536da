#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "storage/branch_manager.h"
#include "storage/data_iterator.h"
#include "storage/node_iterator.h"
#include "storage/node_table.h"

class TreeTable;

// Reads a whole tree table row by row: nodes in branch-path order, rows of
// a node in insertion order. Categorised columns are decoded through their
// category maps, so getPointer always yields a value in its stored form.
// The iterator does not own the table; it must not outlive it, and the
// table must not take rows while the iterator reads it. Pointers returned
// by getPointer point into node buffers or category maps and stay valid
// while the table is unchanged. The first row becomes current with the
// first nextRow().
class TableIterator final : public DataIterator {
 public:
  explicit TableIterator(const TreeTable* table);
  TableIterator(const TableIterator& other);
  TableIterator& operator=(const TableIterator& other);

  // The first call answers whether the table has a row; later calls move
  // to the next row.
  bool nextRow() override;
  // Pointer to the stored form of the column's value in the current row;
  // nullptr for a NULL and for a column the table does not have.
  void* getPointer(unsigned short column) override;
  // Text form of the column's value in the current row, the empty text
  // for a NULL. Throws for a column the table does not have.
  std::string getString(unsigned short column);

  // Makes current the row whose plain part starts `offset` bytes into the
  // block of `at`, one of the table's nodes with rows.
  void positionAt(NodeTable* at, uint32_t offset) {
    node = at;
    pathIndex = at->pathIndex;
    beforeFirst = false;
    rows.config = at->config;
    rows.level = at->level;
    rows.end = at->position;
    rows.current = at->start() + offset;
  }
  // Leaves the iterator where a walk over every row ends: past the rows of
  // the last node, so that nextRow() answers false.
  void positionAtEnd();

  NodeTable* node;                                    // node being read
  const TreeTable* table;                             // not owned
  NodeIterator rows;                                  // rows of `node`
  const std::set<NodeTable*, BranchComparator>* nodes;  // the table's nodes
  NodeTable searchKey;                                // finds `node` again in `nodes`
  unsigned int pathIndex;                             // path index of `node`
  bool newNode;                                       // current row is the node's first
  bool beforeFirst;                                   // nextRow() not called yet

 private:
  void enterNode(NodeTable* next);
  bool advanceNode();
};
