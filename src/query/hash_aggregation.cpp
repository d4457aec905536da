// HashAggregation: a run's groups found by GroupKeys, then each aggregate's
// accumulator fed the run's values by group.

#include "query/hash_aggregation.h"

#include <utility>

HashAggregation::HashAggregation(std::vector<DATA_TYPE> groupTypes, std::vector<Aggregate> aggregates, size_t inputs)
    : groupTypes_(std::move(groupTypes)),
      aggregates_(std::move(aggregates)),
      inputs_(inputs),
      keys_(groupTypes_),
      groups_(ResultSet::kMaxRunRows) {
  for (const Aggregate& aggregate : aggregates_) {
    accumulators_.push_back(Accumulator::create(aggregate.function, aggregate.inputType, aggregate.text));
  }
  for (const DATA_TYPE type : groupTypes_) groupValues_.emplace_back(type);
  if (groupTypes_.empty()) {
    keys_.find(nullptr, 1, groups_.data(), opened_);
    openGroup(nullptr, 0);
  }
}

void HashAggregation::addRun(const ValueRun* runs, uint32_t count) {
  opened_.clear();
  keys_.find(runs, count, groups_.data(), opened_);
  for (const uint32_t row : opened_) openGroup(runs, row);
  for (size_t a = 0; a < aggregates_.size(); ++a) {
    const Aggregate& aggregate = aggregates_[a];
    const bool everyRow = aggregate.function == AggregateFunction::COUNT_ROWS;
    accumulators_[a]->addRun(groups_.data(), everyRow ? nullptr : &runs[aggregate.input], count);
  }
}

void HashAggregation::openGroup(const ValueRun* runs, uint32_t row) {
  for (size_t s = 0; s < groupValues_.size(); ++s) groupValues_[s].append(runs[s].value(row));
  for (const std::unique_ptr<Accumulator>& accumulator : accumulators_) accumulator->addGroup();
}

std::unique_ptr<GroupedSet> HashAggregation::finish(std::vector<bool> nullable, std::vector<size_t> selected) {
  std::vector<ValueColumn> columns = std::move(groupValues_);
  const uint32_t groupCount = keys_.size();
  for (size_t a = 0; a < aggregates_.size(); ++a) {
    ValueColumn& answers = columns.emplace_back(aggregates_[a].type);
    for (uint32_t g = 0; g < groupCount; ++g) accumulators_[a]->write(g, answers);
  }
  return std::make_unique<GroupedSet>(std::move(columns), std::move(nullable), std::move(selected));
}
