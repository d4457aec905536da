// Sorted answers kept as arrays in result order: values copied, texts as pointers.

#include "query/sorted_columns.h"

#include <algorithm>

SortedColumns::SortedColumns(const std::vector<unsigned short>& widths, uint32_t rows) {
  columns_.reserve(widths.size());
  for (const unsigned short width : widths) {
    const bool pointers = width == 0;
    const auto bytes = static_cast<unsigned short>(pointers ? sizeof(const void*) : width);
    columns_.push_back(Column{pointers, bytes, std::vector<char>(size_t{rows} * bytes), {}});
  }
}

void SortedColumns::finish() {
  for (Column& column : columns_) std::sort(column.missing.begin(), column.missing.end());
}

void SortedColumns::read(size_t k, uint32_t first, uint32_t end, const void** out) const {
  const Column& column = columns_[k];
  const char* const values = column.bytes.data() + size_t{first} * column.width;
  const uint32_t count = end - first;
  if (column.pointers) {
    std::memcpy(out, values, size_t{count} * sizeof *out);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) out[i] = values + size_t{i} * column.width;
  for (auto at = std::lower_bound(column.missing.begin(), column.missing.end(), first);
       at != column.missing.end() && *at < end; ++at) {
    out[*at - first] = nullptr;
  }
}
