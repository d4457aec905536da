#include "query/joined_set.h"

#include <cstring>

#include "storage/tree_table.h"

void JoinedSet::setRight(std::unique_ptr<IndexSet> right) {
  right_ = std::move(right);
  rightColumnCount_ = right_->getNumberOfCols();
}

void JoinedSet::setLeft(std::unique_ptr<TableSet> left, unsigned short column) {
  left_ = std::move(left);
  leftRowCount_ = left_->rowCount;
  leftJoinColumn_ = column;
  leftColumnCount_ = left_->getNumberOfCols();
}

void JoinedSet::addSelectCol(bool rightSide, unsigned short column) {
  selected_.push_back(SelectCol{column, rightSide});
}

void JoinedSet::setRow(unsigned int row) {
  currentRow = row;
  setRowDerived(storedRow(row));
}

bool JoinedSet::nextRow() {
  if (matching_ && right_->checkNextRow(key_)) {
    return true;
  }
  return nextLeftRowWithPartner();
}

bool JoinedSet::nextLeftRowWithPartner() {
  matching_ = false;
  while (++leftCursor_ < leftRowCount_) {
    left_->currentRow = leftCursor_;
    left_->setRowDerived(left_->storedRow(leftCursor_));
    key_ = left_->getPointer(leftJoinColumn_);
    if (right_->findRow(key_)) {
      matching_ = true;
      return true;
    }
  }
  // Back on the last row (or before the first), so that further calls
  // keep answering false without the cursor running on.
  leftCursor_ = leftRowCount_ - 1;
  return false;
}

void JoinedSet::addCurrentRow() {
  const uint32_t pair[2] = {left_->currentRow, right_->currentRow};
  reserve(kPairWidth);
  std::memcpy(position, pair, kPairWidth);
  position += kPairWidth;
  ++rowCount;
}

void JoinedSet::setRowDerived(unsigned int row) {
  uint32_t pair[2];
  std::memcpy(pair, start() + static_cast<size_t>(row) * kPairWidth, kPairWidth);
  right_->currentRow = pair[1];
  right_->setRowDerived(right_->storedRow(pair[1]));
  left_->currentRow = pair[0];
  left_->setRowDerived(left_->storedRow(pair[0]));
}

TableSet& JoinedSet::sideOf(unsigned short& col) {
  if (col < leftColumnCount_) {
    return *left_;
  }
  col = static_cast<unsigned short>(col - leftColumnCount_);
  return *right_;
}

TableSet& JoinedSet::sideOf(const SelectCol& selected) {
  return selected.rightSide ? static_cast<TableSet&>(*right_) : *left_;
}

DATA_TYPE JoinedSet::getSelectDataType(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).table().columnTypes[selected.column];
}

std::string JoinedSet::getSelectString(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).getString(selected.column);
}

void* JoinedSet::getSelectPointer(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).getPointer(selected.column);
}

std::string JoinedSet::getString(unsigned short col) { return sideOf(col).getString(col); }

void* JoinedSet::getPointer(unsigned short col) { return sideOf(col).getPointer(col); }

void* JoinedSet::getPointerPath(unsigned short col) { return sideOf(col).getPointerPath(col); }

unsigned short JoinedSet::getNumberOfSelectCols() {
  return static_cast<unsigned short>(selected_.size());
}

unsigned short JoinedSet::getNumberOfCols() {
  return static_cast<unsigned short>(leftColumnCount_ + rightColumnCount_);
}
