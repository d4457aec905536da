#pragma once

#include <string>
#include <vector>

#include "storage/arrow_abi.h"
#include "query/query_set.h"
#include "storage/data_type.h"

// The columns of a result as Arrow sees them, and the ArrowSchema that
// describes them: a struct ("+s") with one nullable field per column, named
// as the column and typed by its format (see arrow_export.h). The schema
// owns copies of the names; releasing it frees everything it holds, and a
// field a consumer moved out is released by that consumer.
namespace arrow_export {

// One selected column of a result: its name, valid UTF-8 and unique among
// the result's columns, its type and whether it may hold NULL.
struct Column {
  std::string name;
  DATA_TYPE type;
  bool nullable;
};

// The selected columns in result order, none for a cursor without a result.
// A name that is not valid UTF-8 is repaired; a name selected again gets the
// first suffix "_1", "_2", ... that no other column has or gets. Throws
// DatabaseException like a row read when the tables behind the result
// changed.
std::vector<Column> columnsOf(const QuerySet& cursor);

// Fills `out` (not yet initialised) with the schema of `columns`. Throws
// DatabaseException for an unknown type, leaving `out` untouched.
void fillSchema(const std::vector<Column>& columns, ArrowSchema* out);

}  // namespace arrow_export
