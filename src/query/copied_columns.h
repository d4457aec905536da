#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "storage/text_bytes.h"

// The selected values of a result's rows laid out as arrays, one per
// column, so that reading them walks or indexes arrays instead of jumping
// from row to row: a sorted answer's in result order, a join side's in the
// order its rows are stored. A value of fixed width is copied; any other (a
// NUL-terminated text) is kept as the pointer its source gave, which stays
// valid while the source is unchanged, or, for a column whose texts are to
// be copied, as a pointer to its own copy of the text once permuted() has
// laid the texts out in result order. Filled by put(), usually in the order
// the rows are stored, then permuted() into result order where that
// differs; read() and at() once every position has been put.
class CopiedColumns {
 public:
  // Most bytes a copied text column may take, on average per position,
  // its texts' NULs included; a column with longer texts keeps pointers.
  static constexpr size_t kMaxTextBytesPerRow = 32;

  // Room for `rows` positions of one column per entry of `widths`: the
  // bytes of a copied value, 0 for a column kept as pointers. A pointer
  // column k whose copiedTexts[k] is set has its texts copied.
  CopiedColumns(const std::vector<unsigned short>& widths, const std::vector<bool>& copiedTexts, uint32_t rows);

  // Puts `value` as column k's value at position `position`; a copied
  // value must exist (not nullptr).
  void put(size_t k, uint32_t position, const void* value) {
    Column& column = columns_[k];
    char* const at = column.bytes.data() + size_t{position} * column.width;
    if (!column.pointers) {
      copyValue(at, value, column.width);
      return;
    }
    std::memcpy(at, &value, sizeof value);
    if (column.copiedTexts && value != nullptr) {
      column.textBytes += text_bytes::terminatedLength(static_cast<const char*>(value)) + 1;
    }
  }
  // The columns in the order `order` gives: position i of the copy holds
  // position order[i] of this one.
  CopiedColumns permuted(const std::vector<uint32_t>& order) const;
  // Writes column k's values at positions [first, end) to
  // out[0 .. end - first); the pointers stay valid while this object lives.
  void read(size_t k, uint32_t first, uint32_t end, const void** out) const;
  // Column k's value at `position`, valid as read()'s.
  const void* at(size_t k, uint32_t position) const {
    const Column& column = columns_[k];
    const char* const value = column.bytes.data() + size_t{position} * column.width;
    if (!column.pointers) return value;
    const void* pointer;
    std::memcpy(&pointer, value, sizeof pointer);
    return pointer;
  }

 private:
  struct Column {
    bool pointers;            // bytes hold pointers, not values
    bool copiedTexts;         // the texts pointed at are to be copied
    unsigned short width;     // bytes per position
    std::vector<char> bytes;  // per position
    size_t textBytes = 0;     // of the texts put, NULs included
    std::vector<char> texts;  // the copies, in result order
  };

  // Copies the texts that column `column`'s pointers point at into its own
  // buffer, one after the other, and points at the copies instead.
  static void copyTexts(Column& column);

  CopiedColumns() = default;

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
