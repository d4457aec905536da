#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "query/accumulator.h"
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
// even when no row comes. The aggregation owns its state; finish() hands
// its answer over.
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

  // Takes `count` rows, input s of row i being runs[s].value(i). Throws
  // DatabaseException when a sum of integers leaves the range of a LONG.
  void addRun(const ValueRun* runs, uint32_t count);
  // The answer, one row per group in the order the groups first came:
  // output columns the grouping columns (their values in the group's
  // first row), then the aggregates. `nullable` says of each output
  // column whether it may hold NULL; `selected` names the selected ones.
  std::unique_ptr<GroupedSet> finish(std::vector<bool> nullable, std::vector<size_t> selected);

 private:
  // The group of a row whose inputs are `values`, opened when new.
  uint32_t group(const void* const* values);
  void openGroup(const void* const* values);

  const std::vector<DATA_TYPE> groupTypes_;
  const std::vector<Aggregate> aggregates_;
  const size_t inputs_;
  std::vector<std::unique_ptr<Accumulator>> accumulators_;  // one per aggregate
  std::vector<ValueColumn> groupValues_;                    // one per grouping column
  std::unordered_map<std::string, uint32_t> groups_;        // group key to group
  uint32_t groupCount_ = 0;
  std::string key_;  // the key of the row being added
};
