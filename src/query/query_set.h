#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "query/result_set.h"

class Database;

// The cursor over a finished query result. Copies share one result set and
// therefore one current row; the result set (and the database it reads, when
// given) lives until the last copy goes. Every operation that reads rows
// checks that the tables behind the result are unchanged and throws
// DatabaseException otherwise; row and column indices out of range and reads
// on an empty cursor throw as well.
class QuerySet {
 public:
  // An empty cursor: no rows, no columns.
  QuerySet() = default;
  // Takes over `result` and positions it on row 0 when it has rows.
  // `database` is kept alive for as long as the result is.
  explicit QuerySet(std::unique_ptr<ResultSet> result,
                    std::shared_ptr<Database> database = nullptr);

  bool empty() const { return result_ == nullptr; }
  uint32_t getNumberOfRows() const;
  unsigned short getNumberOfCols() const;
  // Makes result position `row` (0-based, in result order) current.
  void setRow(unsigned int row);

  std::string getString(unsigned short col) const;
  int64_t getLong(unsigned short col) const;
  double getDouble(unsigned short col) const;
  int32_t getInt(unsigned short col) const;
  float getFloat(unsigned short col) const;
  // Selected column names joined by `separator`.
  std::string getHeader(const std::string& separator) const;

 private:
  // Checks that a row is current, `col` is selected and the tables are
  // unchanged; returns the result set.
  ResultSet& readable(unsigned short col) const;

  // Declared before the result so that the result is destroyed first.
  std::shared_ptr<Database> database_;
  std::shared_ptr<ResultSet> result_;
};
