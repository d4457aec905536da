#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "storage/data_type.h"

// The values of one column of a computed answer, owned and appended row by
// row: a fixed-width value in the first bytes of an 8-byte cell, a text as
// a string. A pointer get() returns stays valid until the column changes.
class ValueColumn {
 public:
  explicit ValueColumn(DATA_TYPE type) : type_(type) {}

  DATA_TYPE type() const { return type_; }
  size_t size() const { return nulls_.size(); }
  bool hasNull() const { return hasNull_; }

  // Appends a copy of the stored value at `value` (possibly unaligned),
  // or a NULL for nullptr.
  void append(const void* value) {
    nulls_.push_back(value == nullptr);
    hasNull_ = hasNull_ || value == nullptr;
    if (type_ == STRING) {
      texts_.emplace_back(value == nullptr ? "" : static_cast<const char*>(value));
      return;
    }
    uint64_t cell = 0;
    if (value != nullptr) std::memcpy(&cell, value, getTypeWidth(type_));
    cells_.push_back(cell);
  }
  // The value of row `row` as stored: zero bytes or the empty text for a
  // NULL.
  const void* stored(size_t row) const {
    return type_ == STRING ? static_cast<const void*>(texts_[row].c_str()) : &cells_[row];
  }
  // The value of row `row`, nullptr for a NULL.
  const void* get(size_t row) const { return nulls_[row] ? nullptr : stored(row); }

 private:
  DATA_TYPE type_;
  bool hasNull_ = false;
  std::vector<bool> nulls_;
  std::vector<uint64_t> cells_;     // fixed-width types
  std::vector<std::string> texts_;  // STRING
};
