#include "main/row_iterator.h"

RowIterator::RowIterator(const QuerySet& cursor) : cursor_(cursor), converter_(cursor_) {}

PyObject* RowIterator::next() {
  if (position_ >= cursor_.getNumberOfRows()) return nullptr;
  PyObject* row = converter_.row(position_);
  ++position_;
  return row;
}
