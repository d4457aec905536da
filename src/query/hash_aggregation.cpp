// HashAggregation: groups found by a hash of their grouping values, the
// aggregates kept by accumulators indexed by group.

#include "query/hash_aggregation.h"

#include <cstring>
#include <limits>
#include <utility>

#include "errors/database_exception.h"

namespace {

// Appends the bytes of the value of `type` at `value` (nullptr for a NULL)
// that decide its group: a NULL and a value never share bytes, a text
// ends at its NUL, and the zeros and NaNs of a floating-point type are
// each written in one form.
void appendKey(std::string& key, const void* value, DATA_TYPE type) {
  if (value == nullptr) {
    key += '\0';
    return;
  }
  key += '\1';
  if (type == STRING) {
    const char* const text = static_cast<const char*>(value);
    key.append(text, std::strlen(text) + 1);
    return;
  }
  if (isFloating(type) && (isZeroValue(value, type) || isNanValue(value, type))) {
    key += isZeroValue(value, type) ? 'z' : 'n';
    return;
  }
  key.append(static_cast<const char*>(value), getTypeWidth(type));
}

}  // namespace

HashAggregation::HashAggregation(std::vector<DATA_TYPE> groupTypes, std::vector<Aggregate> aggregates, size_t inputs)
    : groupTypes_(std::move(groupTypes)), aggregates_(std::move(aggregates)), inputs_(inputs) {
  for (const Aggregate& aggregate : aggregates_) {
    accumulators_.push_back(Accumulator::create(aggregate.function, aggregate.inputType, aggregate.text));
  }
  for (const DATA_TYPE type : groupTypes_) groupValues_.emplace_back(type);
  if (groupTypes_.empty()) openGroup(nullptr);
}

void HashAggregation::addRun(const ValueRun* runs, uint32_t count) {
  std::vector<const void*> values(inputs_);
  for (uint32_t i = 0; i < count; ++i) {
    for (size_t s = 0; s < inputs_; ++s) values[s] = runs[s].value(i);
    const uint32_t at = group(values.data());
    for (size_t a = 0; a < aggregates_.size(); ++a) {
      const Aggregate& aggregate = aggregates_[a];
      if (aggregate.function == AggregateFunction::COUNT_ROWS) {
        accumulators_[a]->add(at, nullptr);
      } else if (values[aggregate.input] != nullptr) {
        accumulators_[a]->add(at, values[aggregate.input]);
      }
    }
  }
}

uint32_t HashAggregation::group(const void* const* values) {
  if (groupTypes_.empty()) return 0;
  key_.clear();
  for (size_t s = 0; s < groupTypes_.size(); ++s) appendKey(key_, values[s], groupTypes_[s]);
  const auto [found, added] = groups_.try_emplace(key_, groupCount_);
  if (added) openGroup(values);
  return found->second;
}

void HashAggregation::openGroup(const void* const* values) {
  if (groupCount_ == std::numeric_limits<uint32_t>::max()) {
    throw DatabaseException("An answer of more than 4294967294 groups");
  }
  for (size_t s = 0; s < groupValues_.size(); ++s) groupValues_[s].append(values[s]);
  for (const std::unique_ptr<Accumulator>& accumulator : accumulators_) accumulator->addGroup();
  ++groupCount_;
}

std::unique_ptr<GroupedSet> HashAggregation::finish(std::vector<bool> nullable, std::vector<size_t> selected) {
  std::vector<ValueColumn> columns = std::move(groupValues_);
  for (size_t a = 0; a < aggregates_.size(); ++a) {
    ValueColumn& answers = columns.emplace_back(aggregates_[a].type);
    for (uint32_t g = 0; g < groupCount_; ++g) accumulators_[a]->write(g, answers);
  }
  return std::make_unique<GroupedSet>(std::move(columns), std::move(nullable), std::move(selected));
}
