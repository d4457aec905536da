#include "main/arrow/arrow_column_builder.h"

#include <algorithm>

namespace arrow_export {

namespace {

// Rows of a text column's first room for texts, sixteen bytes each.
constexpr size_t kFirstTextRows = 1024;

void releaseColumn(ArrowArray* array) {
  delete static_cast<ColumnData*>(array->private_data);
  array->release = nullptr;
}

}  // namespace

ColumnBuilder::ColumnBuilder(const Column& column, size_t capacity, int64_t textLimit)
    : column_(column), data_(std::make_unique<ColumnData>()), capacity_(capacity), textLimit_(textLimit) {
  Block& values = data_->blocks[kValues];
  switch (column.type) {
    case LONG:
    case DOUBLE:
      values.resize(capacity * 8);
      break;
    case INT:
    case FLOAT:
    case DATE:
      values.resize(capacity * 4);
      break;
    case SHORT:
      values.resize(capacity * 2);
      break;
    case BOOL:
      values.resize((capacity + 7) / 8);
      values.zero((capacity + 7) / 8);
      break;
    case STRING:
      values.resize((capacity + 1) * sizeof(int32_t));
      static_cast<int32_t*>(values.data())[0] = 0;
      textCapacity_ = std::min(capacity, kFirstTextRows) * 16;
      data_->blocks[kTextBytes].resize(textCapacity_);
      break;
    default:
      throw DatabaseException("Unknown data type provided");
  }
  if (column.nullable) {
    const size_t bytes = (capacity + 7) / 8;
    data_->blocks[kValidity].resize(bytes);
    data_->blocks[kValidity].zero(bytes);
  }
}

size_t ColumnBuilder::nullsIn(size_t rows) const {
  const auto* const validity = static_cast<const uint8_t*>(data_->blocks[kValidity].data());
  size_t present = 0;
  for (size_t byte = 0; byte < rows / 8; ++byte) present += static_cast<size_t>(__builtin_popcount(validity[byte]));
  if (rows % 8 != 0) {
    const unsigned tail = validity[rows / 8] & ((1u << (rows % 8)) - 1);
    present += static_cast<size_t>(__builtin_popcount(tail));
  }
  return rows - present;
}

void ColumnBuilder::truncate(size_t rows) {
  if (rows >= rows_) return;
  rows_ = rows;
  if (column_.nullable) nulls_ = nullsIn(rows);
  if (isText()) textSize_ = static_cast<size_t>(static_cast<int32_t*>(data_->blocks[kValues].data())[rows]);
}

void ColumnBuilder::finish(ArrowArray* out) noexcept {
  data_->buffers[kValidity] = nulls_ > 0 ? data_->blocks[kValidity].data() : nullptr;
  data_->buffers[kValues] = data_->blocks[kValues].data();
  data_->buffers[kTextBytes] = data_->blocks[kTextBytes].data();
  out->length = static_cast<int64_t>(rows_);
  out->null_count = static_cast<int64_t>(nulls_);
  out->offset = 0;
  out->n_buffers = isText() ? 3 : 2;
  out->n_children = 0;
  out->buffers = data_->buffers;
  out->children = nullptr;
  out->dictionary = nullptr;
  out->release = &releaseColumn;
  out->private_data = data_.release();
}

}  // namespace arrow_export
