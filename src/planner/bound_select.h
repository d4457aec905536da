#pragma once

// BoundSelect: a SELECT whose names are resolved to the columns they mean.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/database_schema.h"
#include "parser/select_statement.h"
#include "query/accumulator.h"
#include "query/condition.h"
#include "storage/data_type.h"

// A column a statement reads, and where a result finds it.
struct BoundColumn {
  TableCol column;
  bool joinedSide = false;  // read from the joined table's rows (also when it is the main table)
  // Column number in the numbering of the result set: past the main
  // table's columns for the joined side.
  unsigned short resultColumn = 0;
  DATA_TYPE type = INT;  // the type the table stores the column as
};

// One where condition: its column and the predicate testing the constant on
// the form in which the rows hold the column.
struct BoundCondition {
  BoundColumn column;
  std::unique_ptr<Condition> predicate;
};

struct BoundSortKey {
  BoundColumn column;
  bool descending = false;
};

// The equality of a join: the main table's column and the joined table's.
struct BoundJoin {
  TableCol mainColumn;
  TableCol joinedColumn;
};

// One aggregate of an aggregating select: its function over a column (no
// column for count(*)) and the type of its answers.
struct BoundAggregate {
  AggregateFunction function = AggregateFunction::COUNT_ROWS;
  BoundColumn column;  // unused for COUNT_ROWS
  DATA_TYPE type = LONG;
  std::string text;  // as written, for messages
};

// A key of the order of an aggregating select: one of its output columns.
struct BoundOutputKey {
  size_t output = 0;
  bool descending = false;
};

// What an aggregating select (one with aggregates, group by or distinct)
// computes from the filtered rows. Its output columns are the grouping
// columns, then the aggregates; the select list and the order clause name
// them by number.
struct BoundAggregation {
  std::vector<BoundColumn> groupBy;
  std::vector<BoundAggregate> aggregates;
  std::vector<size_t> selected;  // an output column per selected column
  std::vector<BoundOutputKey> sortKeys;
};

// Everything a result needs, in the order the statement wrote it. Owns the
// predicates; the where tree refers to `conditions` by index.
struct BoundSelect {
  unsigned short mainTable = 0;
  std::optional<BoundJoin> join;
  std::vector<BoundColumn> selected;
  std::vector<std::string> header;  // a name per selected column
  std::vector<BoundCondition> conditions;
  std::vector<WhereNode> where;  // the bracket tree over `conditions`
  std::vector<BoundSortKey> sortKeys;
  // Set for an aggregating select, whose `selected` and `sortKeys` are
  // then empty: its header names the output columns it selects.
  std::optional<BoundAggregation> aggregation;
  std::optional<uint32_t> limit;  // most rows of the answer
};
