#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "query/result_set.h"
#include "query/value_column.h"

// The answer of an aggregating query: rows of values it computed and owns,
// one per group, in output columns (the grouping columns, then the
// aggregates) of which some are selected. It reads no table: it stays
// valid whatever happens to the tables it was computed from, and sorting
// it compares its own values (source column c is output column c).
class GroupedSet : public ResultSet {
 public:
  // Takes the output columns, all of the same size, and the output column
  // of each selected column. A column may hold NULL when `nullable` says
  // so for it.
  GroupedSet(std::vector<ValueColumn> columns, std::vector<bool> nullable, std::vector<size_t> selected);

  DATA_TYPE columnType(size_t col) const { return columns_[col].type(); }

  // Its rows are computed, not filtered from a source: there is no next row.
  bool nextRow() override { return false; }
  void addCurrentRow() override {}
  DATA_TYPE getSelectDataType(unsigned short k) override { return columns_[selected_[k]].type(); }
  bool selectMayBeNull(unsigned short k) override { return nullable_[selected_[k]]; }
  std::string getSelectString(unsigned short k) override { return getString(selectedColumn(k)); }
  std::string getString(unsigned short col) override;
  void* getSelectPointer(unsigned short k) override { return getPointer(selectedColumn(k)); }
  void* getPointer(unsigned short col) override { return const_cast<void*>(columns_[col].get(current_)); }
  void* getPointerPath(unsigned short col) override { return const_cast<void*>(columns_[col].stored(current_)); }
  const void* getPointerPathOrNull(unsigned short col) override { return columns_[col].get(current_); }
  unsigned short getNumberOfSelectCols() override { return static_cast<unsigned short>(selected_.size()); }
  unsigned short getNumberOfCols() override { return static_cast<unsigned short>(columns_.size()); }
  void setRowDerived(unsigned int row) override { current_ = row; }

 private:
  unsigned short selectedColumn(unsigned short k) const { return static_cast<unsigned short>(selected_[k]); }

  std::vector<ValueColumn> columns_;
  std::vector<bool> nullable_;
  std::vector<size_t> selected_;
  uint32_t current_ = 0;  // stored row the getters read
};
