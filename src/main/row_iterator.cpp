// RowIterator: steps through result positions on its own copy of the cursor,
// one tuple per step.

#include "main/row_iterator.h"

RowIterator::RowIterator(const QuerySet& cursor) : cursor_(cursor), converter_(cursor_) {}

PyObject* RowIterator::next() {
  if (position_ >= cursor_.getNumberOfRows()) return nullptr;
  PyObject* row = converter_.row(position_);
  ++position_;
  return row;
}
