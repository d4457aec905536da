#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "storage/data_type.h"

class Buffer;
class CombinedBooleanExpression;
class Condition;
class FieldComparatorBase;

// Where one selected column's values lie at a run of result positions: at
// `same` for every position when it is set, else the i-th position's value
// at static_cast<const char*>(bases[i]) + offset. A run of pointers to the
// values is bases with offset 0.
//
// The NULLs of a column that may hold them, in one of three forms:
// `allNull`, every position NULL (neither `same` nor `bases` set); a
// nonzero `nullMask`, position i NULL when flags[i] has a bit of the mask
// set, its value then zero bytes or the empty text like any other's
// (flags[i] is the byte of position i's row that holds the null bit,
// gathered once a run for every column whose bit that byte holds); else a
// run of pointers in which a null pointer is a NULL.
//
// A categorised column may instead be described by the category numbers
// the rows hold: `categories` set, position i's number at bases[i] +
// numberAt (two bytes, possibly before bases[i]) and its value
// categories[number], a number from categoryCount on being a NULL.
struct ValueRun {
  const void* same = nullptr;
  const void* const* bases = nullptr;
  size_t offset = 0;
  bool allNull = false;
  uint8_t nullMask = 0;
  const uint8_t* flags = nullptr;
  const void* const* categories = nullptr;
  size_t categoryCount = 0;
  ptrdiff_t numberAt = 0;

  // The value at position i of the run, nullptr for a NULL.
  const void* value(size_t i) const {
    if (categories != nullptr) {
      uint16_t number;
      std::memcpy(&number, static_cast<const char*>(bases[i]) + numberAt, sizeof number);
      return number < categoryCount ? categories[number] : nullptr;
    }
    if (allNull) return nullptr;
    if (same != nullptr) return same;
    const char* const base = static_cast<const char*>(bases[i]);
    if (base == nullptr || (nullMask != 0 && (flags[i] & nullMask) != 0)) return nullptr;
    return base + offset;
  }
  // Calls visit(i, value(i)) for each position i from 0 to count - 1,
  // choosing the run's form once rather than at every position.
  template <typename Visit>
  void forEachValue(size_t count, Visit&& visit) const {
    if (categories != nullptr) {
      for (size_t i = 0; i < count; ++i) visit(i, value(i));
    } else if (allNull || same != nullptr) {
      for (size_t i = 0; i < count; ++i) visit(i, same);
    } else if (nullMask != 0) {
      for (size_t i = 0; i < count; ++i) {
        const bool null = bases[i] == nullptr || (flags[i] & nullMask) != 0;
        visit(i, null ? nullptr : static_cast<const char*>(bases[i]) + offset);
      }
    } else {
      for (size_t i = 0; i < count; ++i) {
        const char* const base = static_cast<const char*>(bases[i]);
        visit(i, base == nullptr ? nullptr : base + offset);
      }
    }
  }
};

// The answer of a query: references to the rows of a row source that passed
// the where clause, an optional permutation giving the result order, and the
// selected columns with their names. A result set stores no values; the
// derived class re-positions its row source on a stored row whenever that row
// is read, so the source's storage must outlive the result set and must not
// change while it is read (see watchTable/checkValid for how a change is
// detected). Pointers returned by the row-access operations stay valid until
// the next positioning.
//
// NULL: every operation that hands out a decoded stored value
// (getSelectPointer, getPointer, selectPointers, selectRows) gives a null
// pointer for a NULL; a selectRun tells NULLs in one of the forms ValueRun
// lists. The text operations give the empty
// text for a NULL. getPointerPath gives the stored form instead, which a
// NULL also has: NULL_CATEGORY (storage/column_map_base.h) in a
// categorised column, zero bytes or the empty text in a plain one, whose
// flag NodeConfig::isNull reads.
class ResultSet {
 public:
  ResultSet() = default;
  virtual ~ResultSet() = default;

  ResultSet(const ResultSet&) = delete;
  ResultSet& operator=(const ResultSet&) = delete;

  // Advances the row source to its next row; false at the end.
  virtual bool nextRow() = 0;
  // Stores a reference to the row on which the source stands.
  virtual void addCurrentRow() = 0;
  // Type of the k-th selected column.
  virtual DATA_TYPE getSelectDataType(unsigned short k) = 0;
  // Whether the k-th selected column may hold NULL (its table declares it
  // with null); a column that may not never gives a null pointer.
  virtual bool selectMayBeNull(unsigned short k) = 0;
  // Text of the k-th selected column in the current row.
  virtual std::string getSelectString(unsigned short k) = 0;
  // Text of source column `col` in the current row.
  virtual std::string getString(unsigned short col) = 0;
  // Decoded stored value of the k-th selected column.
  virtual void* getSelectPointer(unsigned short k) = 0;
  // Decoded stored value of source column `col`.
  virtual void* getPointer(unsigned short col) = 0;
  // Value of source column `col` as the row holds it: the 16-bit category
  // number of a categorised column, the stored value of a plain one. The
  // pointer leads into the source's storage and, unlike the others, stays
  // valid across positionings while the source is unchanged.
  virtual void* getPointerPath(unsigned short col) = 0;
  // getPointerPath, or nullptr when the row holds NULL there: the form
  // conditions and sort keys read.
  virtual const void* getPointerPathOrNull(unsigned short col) = 0;
  virtual unsigned short getNumberOfSelectCols() = 0;
  // Columns of the row source.
  virtual unsigned short getNumberOfCols() = 0;
  // Positions the source on stored row `row` (not a result position).
  virtual void setRowDerived(unsigned int row) = 0;
  // Makes result position `position` current: positions the source on its
  // stored row.
  void setRow(uint32_t position) {
    currentRow = position;
    setRowDerived(storedRow(position));
  }
  // Writes the stored values of the k-th selected column at result
  // positions [first, end) to out[0 .. end - first). These pointers lead
  // into the source's storage or its category maps and, unlike
  // getSelectPointer's, stay valid while the source is unchanged. The
  // source is left positioned on any row; the caller puts it back.
  virtual void selectPointers(unsigned short k, uint32_t first, uint32_t end, const void** out);
  // The same for every selected column at once, column by column: the
  // k-th selected column's values go to out[k * (end - first) ...].
  virtual void selectRows(uint32_t first, uint32_t end, const void** out);
  // Most positions one selectRun describes.
  static constexpr uint32_t kMaxRunRows = 256;
  // Describes where the selected columns' values lie at a run of result
  // positions from `first` (first < end): runs[k] for the k-th selected
  // column. Returns the run's length, at least 1 and at most
  // min(end - first, kMaxRunRows). `scratch` is room for
  // (columns + 1) * kMaxRunRows pointers that the runs may point at; what
  // they describe stays valid until scratch is reused and while the source
  // is unchanged. This version writes pointers to every value, like
  // selectRows; a derived class may describe the values where they lie.
  // The source is left positioned on any row.
  virtual uint32_t selectRun(uint32_t first, uint32_t end, ValueRun* runs, const void** scratch);
  // The row loop of processRequest: stores, in source order, every row for
  // which `root`, built over `conditions`, holds. This version walks the
  // source row by row; a derived class may skip rows whose answer it knows.
  virtual void filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root);

  // Filters the row source into the stored rows: a row is kept when
  // `clause`, compiled over `conditions` (condition k is its leaf k),
  // holds. The conditions stay with their owner; the clause records the
  // answers of each row as filtering goes.
  void processRequest(std::vector<Condition*>& conditions, CombinedBooleanExpression& clause);
  // Builds the permutation ordering the stored rows by the comparators, the
  // first comparator deciding first; rows equal under every comparator keep
  // their stored order. A NULL orders after every value, ascending and
  // descending alike. No comparators: nothing changes.
  void sort(std::vector<FieldComparatorBase*>& comparators);
  // Keeps the first `rows` result positions, in result order, and drops
  // the others; nothing changes when there are no more than that.
  void limit(uint32_t rows);
  // Replaces the permutation by the identity over the stored rows.
  void initPermutation();
  void freePermutation();
  bool hasPermutation() const { return hasPermutation_; }
  // Stored row number at result position `position`.
  uint32_t storedRow(uint32_t position) const {
    return hasPermutation_ ? permutation[position] : position;
  }

  // The selected column names joined by `separator`.
  std::string getHeader(const std::string& separator);
  // Writes the whole result as CSV text into `out` from its start, followed
  // by one NUL byte that counts as used. Floating-point values are written
  // in the shortest text that reads back as the same value; a NULL as an
  // empty field, the empty text as "".
  void populateCSV(Buffer& out);

  // Registers a table whose rows this result reads: `changes` is the table's
  // change counter, which its owner increases whenever the table's rows
  // change or the table is dropped. The current value is remembered.
  void watchTable(const std::string& tableName, std::shared_ptr<const uint64_t> changes);
  // Throws DatabaseException when a watched table changed since it was
  // registered.
  void checkValid() const;

  // Names of the selected columns, each followed by one NUL character.
  std::string header;
  // Result position to stored row number; meaningful once hasPermutation().
  std::vector<uint32_t> permutation;
  // Rows stored so far.
  uint32_t rowCount = 0;
  // Result position last selected by the cursor or populateCSV.
  uint32_t currentRow = 0;

 private:
  // Orders the permutation by the comparators' order keys; `values` holds
  // each stored row's key values, one per comparator, nullptr for a NULL.
  void sortByOrderKeys(const std::vector<FieldComparatorBase*>& comparators,
                       const std::vector<const void*>& values);

  struct TableWatch {
    std::string tableName;
    std::shared_ptr<const uint64_t> changes;
    uint64_t seen;
  };

  bool hasPermutation_ = false;
  std::vector<TableWatch> watches_;
};
