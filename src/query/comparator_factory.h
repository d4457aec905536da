#pragma once

#include <memory>

#include "query/field_comparator_base.h"
#include "storage/data_type.h"

class TableConfig;

// Creates sort keys. A key on a categorised column compares category
// numbers, which order as the values do (-0.0 and 0.0 compare equal); one
// on a plain column compares the
// stored values of the column's type (texts as strcmp does). The caller owns
// the key; the table must outlive it.

// The sort key on `column` of `table`, comparing what the rows hold. Throws
// DatabaseException "Column %d is not part of the table" for a column the
// table lacks.
std::unique_ptr<FieldComparatorBase> createComparator(const TableConfig& table, unsigned short column,
                                                      bool descending);

// The sort key on values of `type` in their decoded form (texts as strcmp
// orders them) at `column` of the result set that sorts.
std::unique_ptr<FieldComparatorBase> createValueComparator(DATA_TYPE type, unsigned short column, bool descending);
