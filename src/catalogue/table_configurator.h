#pragma once

#include <map>
#include <vector>

#include "storage/column_map_base.h"
#include "storage/data_iterator.h"
#include "storage/data_type.h"
#include "storage/tree_table.h"

// The configuration step of a table: choosing from a sample of rows which
// columns become categorised (tree levels) and in which order.
//
// Every column starts as a candidate with a category map collecting its
// distinct values. Every CONFIG_LINES_THRESHOLD + 5 sampled rows, and once
// more at the end, cleanColumnMaps drops the candidates with too many
// distinct values for the rows seen so far; sampling ends early when no
// candidate is left. A NULL counts as one more distinct value of its column
// (the maps themselves never hold it). The survivors become tree levels
// ordered by ascending distinct count, equal counts by ascending column
// number.

// Returns a new, configured, empty tree table over `types`, owned by the
// caller, whose columns may hold NULL where `nullable` says so (empty for
// none). `rows` must stand on the first row to sample; it is read up to
// its end (or until no candidate is left) through getPointer and nextRow.
// The table's maps already hold the sampled values. When no column
// qualifies, every column is plain and `needsConfiguration` stays set.
TreeTable* configTreeTableFromDataIterator(DataIterator* rows, const std::vector<DATA_TYPE>& types,
                                           const std::vector<unsigned char>& nullable = {});

// A new, empty category map for a column of the given type, owned by the
// caller: a StringColumnMap for STRING, a ColumnMap<T> otherwise. Throws
// DatabaseException "Unknown data type provided" for a type outside the
// enumeration.
ColumnMapBase* createColumnMap(DATA_TYPE type);

// Keeps categorised only the columns fit to be tree levels after `rows`
// sampled rows: a map with n distinct values stays when 2 * log2(n) <=
// log2(rows) (at most sqrt(rows) values) and n <= CONFIG_CATEGORY_THRESHOLD.
// A column whose `sawNull` entry is set (column -> 1; the vector may be
// shorter) counts its NULL as one more distinct value. Every other map is
// destroyed and its entry erased. An empty map stays.
void cleanColumnMaps(std::map<unsigned short, ColumnMapBase*>& maps, unsigned int rows,
                     const std::vector<unsigned char>& sawNull = {});
