#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "storage/buffer.h"
#include "storage/data_type.h"
#include "storage/node_config.h"

class NodeIterator;

// One node of a tree table: a block of packed rows (the Buffer base, rows
// from its start up to its position). A row at level L is L category
// numbers (unsigned 16-bit, native order, unaligned) followed by the plain
// part in the `config` layout: the numbers of the last L positions of the
// node's path, which the path leaves unset, in path order. The helpers
// below are the one description of that layout. The node does not own
// `config`, which must outlive it; it is created, filled, split and
// destroyed by its tree table.
class NodeTable : public Buffer {
 public:
  // Bytes of one stored category number.
  static constexpr size_t kCategoryNumberWidth = sizeof(unsigned short);
  // Bytes of `count` category numbers: those opening a row at level
  // `count`, or those before the number in slot `count` of a row.
  static constexpr size_t numbersBytes(unsigned short count) { return kCategoryNumberWidth * count; }
  // Where a row of a table with `categories` path positions holds the
  // number of path position `position`, relative to the row's plain part:
  // the last position's number lies just before it. Only positions the
  // node's path leaves unset are held.
  static constexpr ptrdiff_t numberOffset(unsigned short position, unsigned short categories) {
    return (static_cast<ptrdiff_t>(position) - categories) * static_cast<ptrdiff_t>(kCategoryNumberWidth);
  }
  // The category number stored at `at`.
  static unsigned short categoryNumberAt(const char* at) {
    unsigned short number = 0;
    std::memcpy(&number, at, sizeof number);
    return number;
  }
  // Stores `number` at `at`.
  static void setCategoryNumberAt(char* at, unsigned short number) { std::memcpy(at, &number, sizeof number); }

  // Threshold steps of the split decision, in bytes of buffer capacity.
  static constexpr uint32_t kSplitThresholdStep = 81920;
  static constexpr double kMinBytesPerChild = 8192.0;

  // A node with a 512-byte block.
  NodeTable(const NodeConfig* config, unsigned int pathIndex, unsigned short level);
  // A node with a block of the given size class; class 0 has no storage
  // (used for search keys, which never hold rows).
  NodeTable(const NodeConfig* config, unsigned int pathIndex, unsigned short level,
            unsigned short sizeClass);

  // Appends the plain part of the iterator's current row unchanged.
  void addRow(NodeIterator& row);
  // Appends `length` raw bytes.
  void writeLine(const char* bytes, unsigned short length);
  // Appends one value in its stored width (a text with its NUL). Throws
  // "Unknown data type provided" for a type outside the enumeration and
  // refuses a text longer than a stored string may be.
  void writeEntry(const char* value, DATA_TYPE type);

  // Whether splitting pays: true when the capacity divided by the number of
  // distinct first category numbers of the rows exceeds kMinBytesPerChild;
  // otherwise counts a refused attempt and answers false. A node at level 0
  // or without rows is never worth splitting.
  bool performSplit();
  // Drops what performSplit remembered about rows already seen; required
  // after the stored category numbers of this node were rewritten.
  void forgetSplitScan();

  // Offsets from the start of the block of the plain part of every row,
  // in row order. Built on first use and extended when rows were appended
  // since (rows are only ever appended; a block that shrank is indexed
  // anew); the reference is valid until the next call.
  const std::vector<uint32_t>& plainOffsets();
  // The fixed-width values at byte `offset` of every row's plain part,
  // `width` bytes each, packed in row order: a column copy that scans read
  // contiguously. Built on first use and extended when rows were appended
  // since; the reference is valid until the next call.
  const std::vector<char>& plainColumn(unsigned short offset, unsigned short width);
  // Byte length of the row starting at `row` (category numbers included).
  size_t rowLength(const char* row) const {
    return numbersBytes(level) + config->rowLength(row + numbersBytes(level));
  }

  const NodeConfig* config;      // layout of the plain part (not owned)
  unsigned int pathIndex;        // index of the node's path in the BranchManager
  unsigned short level;          // unset trailing positions of the path
  unsigned short splitAttempts;  // refused splits + 1; scales the threshold

 private:
  // performSplit counts distinct first numbers incrementally: rows up to
  // scannedBytes_ have been seen, their first numbers are marked in seen_.
  size_t scannedBytes_ = 0;
  unsigned int distinctFirst_ = 0;
  std::unique_ptr<uint64_t[]> seen_;
  // One column copy of plainColumn.
  struct ColumnCopy {
    unsigned short offset;
    unsigned short width;
    std::vector<char> values;
  };
  std::vector<uint32_t> plainOffsets_;
  std::vector<ColumnCopy> columnCopies_;
  size_t indexedBytes_ = 0;  // rows below this offset are in plainOffsets_
};
