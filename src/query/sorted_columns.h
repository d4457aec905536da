#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// The selected values of a sorted result laid out in result order, so that
// reading the answer walks arrays instead of jumping from row to row. A
// value of fixed width is copied; any other (a text) is kept as the pointer
// its source gave, which stays valid while the source is unchanged. A
// missing value (nullptr) is read back as nullptr. Filled by put() in any
// order, then finish(); read() once finished.
class SortedColumns {
 public:
  // Room for `rows` result positions of one column per entry of `widths`:
  // the bytes of a copied value, 0 for a column kept as pointers.
  SortedColumns(const std::vector<unsigned short>& widths, uint32_t rows);

  // Puts `value` as column k's value at result position `position`.
  void put(size_t k, uint32_t position, const void* value) {
    Column& column = columns_[k];
    char* const at = column.bytes.data() + size_t{position} * column.width;
    if (column.pointers) {
      std::memcpy(at, &value, sizeof value);
    } else if (value == nullptr) {
      column.missing.push_back(position);
    } else {
      copyValue(at, value, column.width);
    }
  }
  // Orders what read() needs after the last put().
  void finish();
  // Writes column k's values at result positions [first, end) to
  // out[0 .. end - first); the pointers stay valid while this object lives.
  void read(size_t k, uint32_t first, uint32_t end, const void** out) const;

 private:
  struct Column {
    bool pointers;                  // bytes hold pointers, not values
    unsigned short width;           // bytes per position
    std::vector<char> bytes;        // per result position
    std::vector<uint32_t> missing;  // positions of copied columns without a value
  };

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
