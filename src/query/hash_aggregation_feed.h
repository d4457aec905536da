#pragma once

#include <cstdint>
#include <vector>

#include "query/hash_aggregation.h"
#include "query/result_set.h"
#include "query/table_set.h"

class NodeTable;

// Hands the rows a node-by-node filter passes straight to a hash
// aggregation, a run of at most ResultSet::kMaxRunRows rows of one node at
// a time, without storing references to them. The inputs of a row are the
// selected columns of `columns`, in order. Both `columns` and `aggregation`
// must outlive the feed; `columns` is used only to describe node rows.
class HashAggregationFeed : public TableSet::PassingRows {
 public:
  HashAggregationFeed(TableSet& columns, HashAggregation& aggregation);

  // Throw what HashAggregation::addRun throws.
  void wholeNode(NodeTable& node) override;
  void markedRows(NodeTable& node, const uint64_t* bits) override;

 private:
  // Adds the run of rows whose plain parts are at plains_[0 .. count).
  void addRun(const NodeTable& node, uint32_t count);

  TableSet& columns_;
  HashAggregation& aggregation_;
  std::vector<ValueRun> runs_;        // per input
  std::vector<const void*> plains_;   // the rows of the run being gathered
  std::vector<const void*> scratch_;  // kMaxRunRows per input, for describeNodeRows
};
