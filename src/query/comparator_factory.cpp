// The sort keys of a column: by category number, by typed stored value, or
// by text.

#include "query/comparator_factory.h"

#include "query/field_comparator.h"
#include "query/string_comparator.h"
#include "query/zero_category_comparator.h"
#include "storage/column_map_base.h"
#include "storage/table_config.h"
#include "storage/templated_class.h"

namespace {

// The sort key on categorised `column`: category numbers, with the two
// zeros of a floating-point column equal.
std::unique_ptr<FieldComparatorBase> categoryComparator(const TableConfig& table, unsigned short column,
                                                        bool descending) {
  const DATA_TYPE type = table.columnTypes[column];
  ColumnMapBase& map = *table.columnMaps.at(column);
  double negative = 0;
  double positive = 0;
  storeZero(&negative, type, true);
  storeZero(&positive, type, false);
  if (isFloating(type) && map.containsValue(&negative) && map.containsValue(&positive)) {
    return std::make_unique<ZeroCategoryComparator>(column, descending, map.getInt(&negative), map.getInt(&positive));
  }
  return std::make_unique<FieldComparator<unsigned short>>(column, descending);
}

}  // namespace

std::unique_ptr<FieldComparatorBase> createComparator(const TableConfig& table, unsigned short column,
                                                      bool descending) {
  table.requireColumn(column);
  if (table.isPlain[column] == 0) return categoryComparator(table, column, descending);
  return createValueComparator(table.columnTypes[column], column, descending);
}

std::unique_ptr<FieldComparatorBase> createValueComparator(DATA_TYPE type, unsigned short column, bool descending) {
  if (type == STRING) return std::make_unique<StringComparator>(column, descending);
  return std::unique_ptr<FieldComparatorBase>(static_cast<FieldComparatorBase*>(
      createTemplatedClass<FieldComparator, unsigned short, bool>(type, column, descending)));
}
