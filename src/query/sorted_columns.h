#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// The selected values of a sorted result laid out in result order, so that
// reading the answer walks arrays instead of jumping from row to row. A
// value of fixed width is copied; any other (a text) is kept as the pointer
// its source gave, which stays valid while the source is unchanged. Filled
// by put(), usually in the order the rows are stored, then permuted() into
// result order; read() once every position has been put.
class SortedColumns {
 public:
  // Room for `rows` positions of one column per entry of `widths`: the
  // bytes of a copied value, 0 for a column kept as pointers.
  SortedColumns(const std::vector<unsigned short>& widths, uint32_t rows);

  // Puts `value` as column k's value at position `position`; a copied
  // column's value must exist (not nullptr).
  void put(size_t k, uint32_t position, const void* value) {
    Column& column = columns_[k];
    char* const at = column.bytes.data() + size_t{position} * column.width;
    if (column.pointers) {
      std::memcpy(at, &value, sizeof value);
    } else {
      copyValue(at, value, column.width);
    }
  }
  // The columns in the order `order` gives: position i of the copy holds
  // position order[i] of this one.
  SortedColumns permuted(const std::vector<uint32_t>& order) const;
  // Writes column k's values at positions [first, end) to
  // out[0 .. end - first); the pointers stay valid while this object lives.
  void read(size_t k, uint32_t first, uint32_t end, const void** out) const;

 private:
  struct Column {
    bool pointers;            // bytes hold pointers, not values
    unsigned short width;     // bytes per position
    std::vector<char> bytes;  // per position
  };

  SortedColumns() = default;

  // Copies `width` bytes; the usual widths by one load each.
  static void copyValue(char* to, const void* from, unsigned short width) {
    switch (width) {
      case 8: std::memcpy(to, from, 8); return;
      case 4: std::memcpy(to, from, 4); return;
      case 2: std::memcpy(to, from, 2); return;
      default: std::memcpy(to, from, width);
    }
  }

  std::vector<Column> columns_;
};
