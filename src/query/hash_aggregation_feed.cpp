// HashAggregationFeed: a node's passing rows gathered into runs of plain
// part addresses and described column by column where they lie.

#include "query/hash_aggregation_feed.h"

#include <algorithm>
#include <bit>

#include "query/row_bits.h"
#include "storage/node_table.h"

HashAggregationFeed::HashAggregationFeed(TableSet& columns, HashAggregation& aggregation)
    : columns_(columns),
      aggregation_(aggregation),
      runs_(columns.selectedColumns.size()),
      plains_(ResultSet::kMaxRunRows),
      scratch_(columns.selectedColumns.size() * ResultSet::kMaxRunRows) {}

void HashAggregationFeed::wholeNode(NodeTable& node) {
  const std::vector<uint32_t>& rows = node.plainOffsets();
  const char* const base = node.start();
  for (size_t first = 0; first < rows.size();) {
    const auto count = static_cast<uint32_t>(std::min<size_t>(rows.size() - first, ResultSet::kMaxRunRows));
    // The rows lie in order: the processor's own prefetching keeps ahead
    // of them, and asking for a run's lines in a burst only stalls it.
    for (uint32_t i = 0; i < count; ++i) plains_[i] = base + rows[first + i];
    addRun(node, count);
    first += count;
  }
}

void HashAggregationFeed::markedRows(NodeTable& node, const uint64_t* bits) {
  const std::vector<uint32_t>& rows = node.plainOffsets();
  const char* const base = node.start();
  uint32_t count = 0;
  for (size_t w = 0; w < row_bits::wordsFor(rows.size()); ++w) {
    for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
      plains_[count++] = base + rows[w * 64 + static_cast<size_t>(std::countr_zero(word))];
      if (count == ResultSet::kMaxRunRows) {
        addRun(node, count);
        count = 0;
      }
    }
  }
  if (count != 0) addRun(node, count);
}

void HashAggregationFeed::addRun(const NodeTable& node, uint32_t count) {
  columns_.describeNodeRows(node, plains_.data(), count, runs_.data(), scratch_.data());
  aggregation_.addRun(runs_.data(), count);
}
