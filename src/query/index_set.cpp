// An index of one table's rows ordered by one column, and the lookups by
// bisection that joins make in it.

#include "query/index_set.h"

#include <vector>

#include "catalogue/database.h"
#include "query/combined_boolean_expression.h"
#include "query/comparator_factory.h"
#include "storage/data_type.h"
#include "storage/tree_table.h"

void IndexSet::initIndex(unsigned short table, Database& database, unsigned short column) {
  watchTable(database.getTableName(table), database.getTableChanges(table));
  initIndex(std::make_unique<TableIterator>(&database.getTreeTable(table)), column);
}

void IndexSet::initIndex(std::unique_ptr<TableIterator> iterator, unsigned short column) {
  std::vector<Condition*> none;
  CombinedBooleanExpression everyRow;
  initRows(std::move(iterator), column, none, everyRow);
  sortIndex();
}

void IndexSet::initTable(std::unique_ptr<TableIterator> iterator, unsigned short column) {
  indexedColumn = column;
  setIterator(std::move(iterator));
  comparator_ = createComparator(table(), column, false);
}

void IndexSet::initRows(std::unique_ptr<TableIterator> iterator, unsigned short column,
                        std::vector<Condition*>& conditions, CombinedBooleanExpression& clause) {
  initTable(std::move(iterator), column);
  processRequest(conditions, clause);
}

void IndexSet::sortIndex() {
  std::vector<FieldComparatorBase*> comparators{comparator_.get()};
  sort(comparators);
}

const void* IndexSet::rowForm(const void* key, bool& matchable) {
  const TreeTable& t = table();
  const bool nan = isNanValue(key, t.columnTypes[indexedColumn]);
  if (t.isPlain[indexedColumn] != 0) {
    matchable = !nan;
    return key;
  }
  ColumnMapBase& map = *t.columnMaps.at(indexedColumn);
  void* value = const_cast<void*>(key);
  double zero = 0;
  if (isZeroValue(key, t.columnTypes[indexedColumn])) {
    // A zero key equals -0.0 and 0.0, two values of the map that the
    // comparator orders as one: either stands for both.
    storeZero(&zero, t.columnTypes[indexedColumn], true);
    if (!map.containsValue(&zero)) storeZero(&zero, t.columnTypes[indexedColumn], false);
    value = &zero;
  }
  matchable = !nan && map.containsValue(value);
  number_ = matchable ? map.getInt(value) : map.getIntGreatEQ(value);
  return &number_;
}

int IndexSet::compareCurrent(const void* rowKey) {
  // A NULL orders after every key and equals none, as the index sorts it.
  const void* const value = getPointerPathOrNull(indexedColumn);
  return value == nullptr ? 1 : comparator_->compare(value, rowKey);
}

bool IndexSet::findRow(const void* key) {
  if (!hasPermutation()) sortIndex();
  bool matchable = false;
  const void* rowKey = rowForm(key, matchable);
  uint32_t first = 0;
  uint32_t count = rowCount;
  while (count > 0) {
    const uint32_t half = count / 2;
    const uint32_t mid = first + half;
    setRowDerived(permutation[mid]);
    if (compareCurrent(rowKey) < 0) {
      first = mid + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  if (first == rowCount) {
    if (positioned_) {
      setRowDerived(permutation[cursor]);
    }
    return false;
  }
  cursor = first;
  positioned_ = true;
  setRow(first);
  return matchable && compareCurrent(rowKey) == 0;
}

bool IndexSet::checkNextRow(const void* key) {
  if (!positioned_ || cursor + 1 >= rowCount) {
    return false;
  }
  bool matchable = false;
  const void* rowKey = rowForm(key, matchable);
  ++cursor;
  setRow(cursor);
  return matchable && compareCurrent(rowKey) == 0;
}
