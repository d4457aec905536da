#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "query/accumulator.h"
#include "query/group_keys.h"
#include "query/grouped_set.h"
#include "query/result_set.h"
#include "query/value_column.h"
#include "storage/data_type.h"

// Groups rows by the values of their grouping columns and computes the
// aggregates of each group. A row comes as its inputs: the grouping
// columns first, then any columns the aggregates read. Two rows are in one
// group when each grouping column holds the same value in both or NULL in
// both; the zeros of either sign are one value, and so are all NaNs.
// Without grouping columns every row is in the one group, which exists
// even when no row comes. Rows are taken a run at a time: the run's group
// numbers first (GroupKeys), then each aggregate adds its input over the
// run. The aggregation owns its state; finish() hands its answer over.
class HashAggregation {
 public:
  struct Aggregate {
    AggregateFunction function = AggregateFunction::COUNT_ROWS;
    size_t input = 0;       // the input it reads; unused by COUNT_ROWS
    DATA_TYPE inputType = LONG;
    DATA_TYPE type = LONG;  // the type of its answers
    std::string text;       // the aggregate as written, for messages
  };

  // `groupTypes`: the types of the grouping columns, inputs 0 onwards;
  // `inputs`: how many inputs a row has in all.
  HashAggregation(std::vector<DATA_TYPE> groupTypes, std::vector<Aggregate> aggregates, size_t inputs);

  // Takes `count` rows, at most ResultSet::kMaxRunRows, input s of row i
  // being runs[s].value(i). Throws
  // DatabaseException when a sum of integers leaves the range of a LONG
  // or the groups would be more than 4294967294.
  void addRun(const ValueRun* runs, uint32_t count);
  // The answer, one row per group in the order the groups first came:
  // output columns the grouping columns (their values in the group's
  // first row), then the aggregates. `nullable` says of each output
  // column whether it may hold NULL; `selected` names the selected ones.
  std::unique_ptr<GroupedSet> finish(std::vector<bool> nullable, std::vector<size_t> selected);

 private:
  // Opens a group whose grouping values are those of row `row` of `runs`.
  void openGroup(const ValueRun* runs, uint32_t row);

  const std::vector<DATA_TYPE> groupTypes_;
  const std::vector<Aggregate> aggregates_;
  const size_t inputs_;
  std::vector<std::unique_ptr<Accumulator>> accumulators_;  // one per aggregate
  std::vector<ValueColumn> groupValues_;                    // one per grouping column
  GroupKeys keys_;
  std::vector<uint32_t> groups_;  // the group of each row of the run being added
  std::vector<uint32_t> opened_;  // the rows of that run that opened a group
};
