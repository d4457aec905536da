// The sort keys of a column: by category number, by typed stored value, or
// by text.

#include "query/comparator_factory.h"

#include "query/field_comparator.h"
#include "query/string_comparator.h"
#include "storage/table_config.h"
#include "storage/templated_class.h"

std::unique_ptr<FieldComparatorBase> createComparator(const TableConfig& table, unsigned short column,
                                                      bool descending) {
  table.requireColumn(column);
  if (table.isPlain[column] == 0) {
    return std::make_unique<FieldComparator<unsigned short>>(column, descending);
  }
  const DATA_TYPE dataType = table.columnTypes[column];
  if (dataType == STRING) {
    return std::make_unique<StringComparator>(column, descending);
  }
  return std::unique_ptr<FieldComparatorBase>(static_cast<FieldComparatorBase*>(
      createTemplatedClass<FieldComparator, unsigned short, bool>(dataType, column, descending)));
}
