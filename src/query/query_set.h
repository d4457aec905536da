#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "query/result_set.h"
#include "storage/data_type.h"

class Buffer;
class Database;
class DatabaseLock;

// The cursor over a finished query result. Copies share one result set and
// therefore one current row; the result set (and the database it reads, when
// given) lives until the last copy goes. Every operation that reads rows
// checks that the tables behind the result are unchanged and throws
// DatabaseException otherwise; row and column indices out of range and reads
// on an empty cursor throw as well. Once the database is closed, every
// operation but empty() and closed() throws "Database is closed".
//
// A cursor is used under its database's lock (lock()), taken by the caller
// for each call; the destructor takes it itself, since the last copy frees
// the result. A cursor made without a database is for one thread.
//
// NULL: wherever the cursor hands out a pointer to a stored value (Row's
// value, readColumn, readColumns), a NULL is a null pointer; the runs of
// readRuns tell NULLs as ValueRun describes. isNull asks about the
// current row; getString gives the empty text for a NULL, and the number
// getters refuse it.
class QuerySet {
 public:
  // An empty cursor: no rows, no columns.
  QuerySet() = default;
  // Takes over `result` and positions it on row 0 when it has rows.
  // `database` is kept alive for as long as the result is.
  explicit QuerySet(std::unique_ptr<ResultSet> result,
                    std::shared_ptr<Database> database = nullptr);
  QuerySet(const QuerySet&) = default;
  QuerySet(QuerySet&&) = default;
  // The result this cursor held is let go as the destructor lets it go.
  QuerySet& operator=(QuerySet other) noexcept;
  ~QuerySet();

  // The lock of the database behind the result; null without one.
  DatabaseLock* lock() const;

  bool empty() const { return result_ == nullptr; }
  // Whether the database behind the result has been closed.
  bool closed() const;
  uint32_t getNumberOfRows() const;
  unsigned short getNumberOfCols() const;
  // Makes result position `row` (0-based, in result order) current.
  void setRow(unsigned int row);

  // Whether selected column `col` of the current row is NULL.
  bool isNull(unsigned short col) const;
  std::string getString(unsigned short col) const;
  // The number getters throw for a column that is not numeric, then for a
  // NULL ("Column %d of the current row is NULL").
  int64_t getLong(unsigned short col) const;
  double getDouble(unsigned short col) const;
  int32_t getInt(unsigned short col) const;
  float getFloat(unsigned short col) const;
  // Selected column names joined by `separator`.
  std::string getHeader(const std::string& separator) const;
  // Type of selected column `col`; throws like a row read, and for a column
  // out of range.
  DATA_TYPE getColumnType(unsigned short col) const;
  // Whether selected column `col` may hold NULL; throws like getColumnType.
  bool mayBeNull(unsigned short col) const;
  // Writes the whole result as CSV text, NUL-terminated, into `out` from its
  // start. The current row is left as it was.
  void populateCSV(Buffer& out) const;

  // The selected values of the row a bulk read stands on. Pointers lead to
  // stored values, nullptr for a NULL, and are valid only until the visitor
  // returns.
  class Row {
   public:
    explicit Row(ResultSet& result) : result_(result) {}
    const void* value(unsigned short col) const { return result_.getSelectPointer(col); }
    std::string text(unsigned short col) const { return result_.getSelectString(col); }

   private:
    ResultSet& result_;
  };

  // Bulk reading: checks once that the cursor holds a result whose tables
  // are unchanged and that result positions [first, end) exist, then calls
  // visit(const Row&) for each of them in result order. The visitor must not
  // change the tables (the check is not repeated per row). The current row
  // is left as it was, also when the visitor throws.
  template <typename Visitor>
  void readRows(uint32_t first, uint32_t end, Visitor&& visit) const;
  // Bulk reading by column: checks the cursor like readRows and that `col`
  // is selected, then writes the stored values of column `col` at result
  // positions [first, end) to out[0 .. end - first). The pointers stay valid
  // until the tables behind the result change. The current row is left as
  // it was.
  void readColumn(unsigned short col, uint32_t first, uint32_t end, const void** out) const;
  // readColumn of every selected column, column after column: column k's
  // values go to out[k * (end - first) ...].
  void readColumns(uint32_t first, uint32_t end, const void** out) const;
  // Bulk reading by runs: checks the cursor like readRows, then describes
  // result positions [first, end) run after run where their values lie
  // (see ResultSet::selectRun) and calls take(runs, count), runs[k] for the
  // k-th selected column at the run's `count` positions. `take` returns how
  // many of them it used; the reading ends at the first run it does not use
  // whole. Returns the positions used. The current row is left as it was.
  template <typename Take>
  uint32_t readRuns(uint32_t first, uint32_t end, Take&& take) const;

 private:
  // Throws "Database is closed" once the database is.
  void requireOpen() const;
  // Checks that a row is current, `col` is selected and the tables are
  // unchanged; returns the result set.
  ResultSet& readable(unsigned short col) const;
  // Checks that the cursor holds a result and the tables are unchanged.
  ResultSet& valid() const;
  // Checks that result positions [first, end) exist.
  static void requireRows(const ResultSet& result, uint32_t first, uint32_t end);
  // Checks that `col` is a selected column.
  static void requireColumn(ResultSet& result, unsigned short col);

  // Puts the result set back on the current row it had when constructed.
  class RowRestorer {
   public:
    explicit RowRestorer(ResultSet& result) : result_(result), current_(result.currentRow) {}
    ~RowRestorer();
    RowRestorer(const RowRestorer&) = delete;
    RowRestorer& operator=(const RowRestorer&) = delete;

   private:
    ResultSet& result_;
    const uint32_t current_;
  };

  // Declared before the result so that the result is destroyed first.
  std::shared_ptr<Database> database_;
  std::shared_ptr<ResultSet> result_;
};

template <typename Visitor>
void QuerySet::readRows(uint32_t first, uint32_t end, Visitor&& visit) const {
  ResultSet& result = valid();
  requireRows(result, first, end);
  const RowRestorer restorer(result);
  const Row row(result);
  for (uint32_t position = first; position < end; ++position) {
    result.setRowDerived(result.storedRow(position));
    visit(row);
  }
}

template <typename Take>
uint32_t QuerySet::readRuns(uint32_t first, uint32_t end, Take&& take) const {
  ResultSet& result = valid();
  requireRows(result, first, end);
  const RowRestorer restorer(result);
  const unsigned short columns = result.getNumberOfSelectCols();
  std::vector<ValueRun> runs(columns);
  std::vector<const void*> scratch((size_t{columns} + 1) * ResultSet::kMaxRunRows);
  uint32_t position = first;
  uint32_t checked = first;
  while (position < end) {
    if (position - checked >= kRowsPerInterruptCheck) {
      checkInterrupt();
      checked = position;
    }
    const uint32_t count = result.selectRun(position, end, runs.data(), scratch.data());
    const uint32_t used = take(static_cast<const ValueRun*>(runs.data()), count);
    position += used;
    if (used < count) break;
  }
  return position - first;
}
