#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "query/result_set.h"
#include "storage/data_type.h"

// An in-memory row source for testing the shared result-set algorithms and
// the cursor without tables: column 0 INT, 1 DOUBLE, 2 STRING, 3 BOOL.
struct FakeRow {
  int32_t number;
  double real;
  std::string text;
  bool flag;
};

class FakeResultSet : public ResultSet {
 public:
  FakeResultSet(std::vector<FakeRow> rows, std::vector<unsigned short> selected)
      : rows_(std::move(rows)), selected_(std::move(selected)) {}

  bool nextRow() override { return ++source_ < rows_.size(); }
  void addCurrentRow() override {
    stored_.push_back(static_cast<uint32_t>(source_));
    ++rowCount;
  }
  DATA_TYPE getSelectDataType(unsigned short k) override { return kTypes[selected_.at(k)]; }
  bool selectMayBeNull(unsigned short) override { return false; }
  std::string getSelectString(unsigned short k) override { return getString(selected_.at(k)); }
  std::string getString(unsigned short col) override {
    return getStringFromPtr(getPointer(col), kTypes[col]);
  }
  void* getSelectPointer(unsigned short k) override { return getPointer(selected_.at(k)); }
  void* getPointer(unsigned short col) override { return getPointerPath(col); }
  void* getPointerPath(unsigned short col) override {
    FakeRow& row = rows_.at(source_);
    switch (col) {
      case 0:
        return &row.number;
      case 1:
        return &row.real;
      case 2:
        return row.text.data();
      default:
        return &row.flag;
    }
  }
  // The fake holds no NULL.
  const void* getPointerPathOrNull(unsigned short col) override { return getPointerPath(col); }
  unsigned short getNumberOfSelectCols() override {
    return static_cast<unsigned short>(selected_.size());
  }
  unsigned short getNumberOfCols() override { return 4; }
  void setRowDerived(unsigned int row) override { source_ = stored_.at(row); }

  // Rows handed out by nextRow() so far minus one; the source position.
  size_t source_ = static_cast<size_t>(-1);

 private:
  static constexpr DATA_TYPE kTypes[] = {INT, DOUBLE, STRING, BOOL};
  std::vector<FakeRow> rows_;
  std::vector<unsigned short> selected_;
  std::vector<uint32_t> stored_;
};
