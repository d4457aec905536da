#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "query/field_comparator_base.h"
#include "query/table_set.h"

class Database;

// The rows of one table (every row, or those that pass a filter), ordered
// by one column, for lookups by bisection. The index order is the
// permutation built by sort(): positions 0 .. rowCount - 1 ascending in the
// indexed column (rows with equal values in table order). A set built by
// initRows is sorted by its first lookup; until then its positions are
// its rows in table order. Keys are decoded values of the column's type (a pointer to the
// stored form, or to text); for a categorised column a key is translated to
// its category number, so the index compares what the rows hold. Equality
// is that of the values: a NaN key matches no row (NaN rows sort last),
// a NULL row matches no key (NULL rows sort after them), and -0.0 matches
// 0.0. Owns its comparator; the table must outlive the
// index and stay unchanged.
class IndexSet : public TableSet {
 public:
  IndexSet() = default;

  // Builds the index over `column` of table number `table`.
  void initIndex(unsigned short table, Database& database, unsigned short column);
  // Builds the index over `column` of the table that `iterator` reads;
  // takes over the iterator, which must stand before the first row.
  void initIndex(std::unique_ptr<TableIterator> iterator, unsigned short column);
  // Binds the set to `column` of the table that `iterator` reads, holding
  // no rows yet; takes over the iterator, which must stand before the
  // first row.
  void initTable(std::unique_ptr<TableIterator> iterator, unsigned short column);
  // Keeps the rows of the table that `iterator` reads for which `clause`
  // over `conditions` holds (see processRequest), in table order,
  // unsorted; takes over the iterator, which must stand before the first
  // row.
  void initRows(std::unique_ptr<TableIterator> iterator, unsigned short column, std::vector<Condition*>& conditions,
                CombinedBooleanExpression& clause);

  // Positions the index on the first row whose value is not less than
  // `key`; true when that row's value equals `key`. When every row is
  // smaller, answers false and the position is left as it was.
  bool findRow(const void* key);
  // Moves to the next index position; true when that row's value equals
  // `key`. False at the end of the index.
  bool checkNextRow(const void* key);
  // Whether the set stands on a row found by findRow or checkNextRow.
  bool isPositioned() const { return positioned_; }

  // Index position of the row found last.
  uint32_t cursor = 0;
  // Column number of the indexed column in the table.
  unsigned short indexedColumn = 0;

 private:
  // The key in the form the rows hold it. `matchable` is false for a key
  // that no row can equal (a value missing from the column's map).
  const void* rowForm(const void* key, bool& matchable);
  // Orders the positions by the indexed column.
  void sortIndex();
  // Compares the current row's indexed value with a key in row form.
  int compareCurrent(const void* rowKey);

  std::unique_ptr<FieldComparatorBase> comparator_;
  // Category number of the last translated key.
  unsigned short number_ = 0;
  bool positioned_ = false;
};
