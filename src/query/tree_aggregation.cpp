// TreeAggregation: groups keyed by category numbers, aggregates taken a
// node at a time where the node's path fixes the group.

#include "query/tree_aggregation.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "query/row_bits.h"
#include "storage/bit_count.h"
#include "storage/node_table.h"
#include "storage/tree_table.h"

namespace {

constexpr uint32_t kNoGroup = UINT32_MAX;

// Calls `visit(i)` for each passing row i of a node with `rows` rows: all
// of them when `bits` is null, else those whose bit is set.
template <typename Visit>
void forEachPassing(const uint64_t* bits, size_t rows, Visit&& visit) {
  if (bits == nullptr) {
    for (size_t i = 0; i < rows; ++i) visit(i);
    return;
  }
  for (size_t w = 0; w < row_bits::wordsFor(rows); ++w) {
    for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
      visit(w * 64 + static_cast<size_t>(std::countr_zero(word)));
    }
  }
}

size_t countPassing(const uint64_t* bits, size_t rows) {
  if (bits == nullptr) return rows;
  size_t count = 0;
  for (size_t w = 0; w < row_bits::wordsFor(rows); ++w) count += static_cast<size_t>(countOnes(bits[w]));
  return count;
}

bool reads(AggregateFunction function) { return function != AggregateFunction::COUNT_ROWS; }

}  // namespace

bool TreeAggregation::canGroup(const TreeTable& table, const std::vector<unsigned short>& groupColumns) {
  if (groupColumns.size() > kMaxGroupColumns) return false;
  for (const unsigned short column : groupColumns) {
    if (column >= table.numColumns || table.isPlain[column] != 0) return false;
  }
  return true;
}

TreeAggregation::TreeAggregation(const TreeTable& table, std::vector<unsigned short> groupColumns,
                                 std::vector<Aggregate> aggregates)
    : table_(table), decoded_(table.numCategories) {
  for (const unsigned short column : groupColumns) {
    groupIndex_.push_back(table.columnIndex[column]);
    groupNullable_.push_back(table.nullable[column] != 0);
    groupTypes_.push_back(table.columnTypes[column]);
  }
  if (groupIndex_.size() == 1) byFirstNumber_.assign(size_t{NULL_CATEGORY} + 1, kNoGroup);
  ranges_.resize(aggregates.size());
  for (Aggregate& aggregate : aggregates) {
    Input& input = inputs_.emplace_back();
    input.function = aggregate.function;
    answerTypes_.push_back(aggregate.type);
    const DATA_TYPE type = reads(aggregate.function) ? table.columnTypes[aggregate.column] : LONG;
    if (reads(aggregate.function)) {
      const unsigned short column = aggregate.column;
      input.categorised = table.isPlain[column] == 0;
      input.nullable = table.nullable[column] != 0;
      input.index = table.columnIndex[column];
      const bool extreme = aggregate.function == AggregateFunction::MIN || aggregate.function == AggregateFunction::MAX;
      input.byNumber = input.categorised && extreme && !isFloating(type);
      if (input.categorised) {
        input.decoded = &decodedValues(input.index);
      } else {
        const NodeConfig& layout = table.plainConfig;
        const unsigned short position = layout.positions[input.index];
        input.packed = !input.nullable && position < layout.numFixed;
        if (input.packed) {
          input.offset = layout.offsets[position];
          input.width = getTypeWidth(type);
        }
      }
    }
    if (!input.byNumber) input.accumulator = Accumulator::create(aggregate.function, type, std::move(aggregate.text));
  }
  if (groupIndex_.empty()) openGroup(nullptr);
}

TreeAggregation::~TreeAggregation() = default;

void TreeAggregation::wholeNode(NodeTable& node) { aggregateNode(node, nullptr); }

void TreeAggregation::markedRows(NodeTable& node, const uint64_t* bits) { aggregateNode(node, bits); }

void TreeAggregation::aggregateNode(NodeTable& node, const uint64_t* bits) {
  const unsigned short* path = table_.branches.getPath(node.pathIndex);
  unsigned short numbers[kMaxGroupColumns];
  bool fixed = true;
  for (size_t s = 0; s < groupIndex_.size(); ++s) {
    numbers[s] = path[groupIndex_[s]];
    fixed = fixed && numbers[s] != 0;
  }
  const std::vector<uint32_t>& rows = node.plainOffsets();
  if (fixed) {
    const size_t count = countPassing(bits, rows.size());
    if (count != 0) addBlock(node, bits, count, groupOf(numbers));
    return;
  }
  const char* const base = node.start();
  const NodeConfig& layout = *node.config;
  forEachPassing(bits, rows.size(), [&](size_t i) {
    const char* const row = base + rows[i];
    for (size_t s = 0; s < groupIndex_.size(); ++s) numbers[s] = numberAt(path, groupIndex_[s], row);
    const uint32_t group = groupOf(numbers);
    for (size_t a = 0; a < inputs_.size(); ++a) addRow(inputs_[a], a, group, path, row, layout);
  });
}

void TreeAggregation::addBlock(NodeTable& node, const uint64_t* bits, size_t count, uint32_t group) {
  const unsigned short* path = table_.branches.getPath(node.pathIndex);
  for (size_t a = 0; a < inputs_.size(); ++a) {
    Input& input = inputs_[a];
    if (input.function == AggregateFunction::COUNT_ROWS) {
      input.accumulator->addPacked(group, nullptr, 0, count);
      continue;
    }
    const unsigned short number = input.categorised ? path[input.index] : 0;
    if (number != 0) {
      // The path fixes the value of every row: it counts `count` times, or
      // not at all when it is NULL.
      const void* const value = decode(input.index, number, input.nullable);
      if (value == nullptr) continue;
      if (input.byNumber) {
        takeNumber(a, group, number);
      } else {
        input.accumulator->addPacked(group, static_cast<const char*>(value), 0, count);
      }
      continue;
    }
    if (input.packed && bits == nullptr) {
      const std::vector<char>& values = node.plainColumn(input.offset, input.width);
      input.accumulator->addPacked(group, values.data(), input.width, count);
      continue;
    }
    // plainColumn may have rebuilt the node's row offsets: read them anew.
    const std::vector<uint32_t>& rows = node.plainOffsets();
    const char* const base = node.start();
    const NodeConfig& layout = *node.config;
    forEachPassing(bits, rows.size(), [&](size_t i) { addRow(input, a, group, path, base + rows[i], layout); });
  }
}

void TreeAggregation::addRow(const Input& input, size_t a, uint32_t group, const unsigned short* path,
                             const char* row, const NodeConfig& layout) {
  if (input.function == AggregateFunction::COUNT_ROWS) {
    input.accumulator->add(group, nullptr);
    return;
  }
  if (input.categorised) {
    const unsigned short number = numberAt(path, input.index, row);
    if (input.nullable && number == NULL_CATEGORY) return;
    if (input.byNumber) {
      takeNumber(a, group, number);
    } else {
      input.accumulator->add(group, (*input.decoded)[number]);
    }
    return;
  }
  if (input.nullable && layout.isNull(row, input.index)) return;
  input.accumulator->add(group, layout.valueAt(row, input.index));
}

unsigned short TreeAggregation::numberAt(const unsigned short* path, unsigned short index, const char* row) const {
  if (path[index] != 0) return path[index];
  return NodeTable::categoryNumberAt(row + NodeTable::numberOffset(index, table_.numCategories));
}

uint32_t TreeAggregation::groupOf(const unsigned short* numbers) {
  if (groupIndex_.empty()) return 0;
  if (groupIndex_.size() == 1) {
    uint32_t& group = byFirstNumber_[numbers[0]];
    if (group == kNoGroup) {
      group = groupCount_;
      openGroup(numbers);
    }
    return group;
  }
  uint64_t key = 0;
  for (size_t s = 0; s < groupIndex_.size(); ++s) key = key << 16 | numbers[s];
  const auto [found, added] = byKey_.try_emplace(key, groupCount_);
  if (added) openGroup(numbers);
  return found->second;
}

void TreeAggregation::openGroup(const unsigned short* numbers) {
  keys_.insert(keys_.end(), numbers, numbers + groupIndex_.size());
  for (size_t a = 0; a < inputs_.size(); ++a) {
    if (inputs_[a].byNumber) {
      ranges_[a].emplace_back();
    } else {
      inputs_[a].accumulator->addGroup();
    }
  }
  ++groupCount_;
}

void TreeAggregation::takeNumber(size_t a, uint32_t group, unsigned short number) {
  NumberRange& range = ranges_[a][group];
  range.low = std::min(range.low, number);
  range.high = std::max(range.high, number);
}

const std::vector<const void*>& TreeAggregation::decodedValues(unsigned short index) {
  std::vector<const void*>& values = decoded_[index];
  if (values.empty()) {
    ColumnMapBase& map = *table_.levelMaps[index];
    std::vector<unsigned short> numbers;
    map.getAllInts(numbers);
    values.assign(size_t{NULL_CATEGORY} + 1, nullptr);
    for (const unsigned short number : numbers) values[number] = map.getValuePointer(number);
  }
  return values;
}

const void* TreeAggregation::decode(unsigned short index, unsigned short number, bool nullable) const {
  if (nullable && number == NULL_CATEGORY) return nullptr;
  return table_.levelMaps[index]->getValuePointer(number);
}

std::unique_ptr<GroupedSet> TreeAggregation::finish(std::vector<bool> nullable, std::vector<size_t> selected) {
  std::vector<ValueColumn> columns;
  const size_t width = groupIndex_.size();
  for (size_t s = 0; s < width; ++s) {
    ValueColumn& values = columns.emplace_back(groupTypes_[s]);
    for (uint32_t g = 0; g < groupCount_; ++g) values.append(decode(groupIndex_[s], keys_[g * width + s], groupNullable_[s]));
  }
  for (size_t a = 0; a < inputs_.size(); ++a) {
    ValueColumn& answers = columns.emplace_back(answerTypes_[a]);
    const Input& input = inputs_[a];
    for (uint32_t g = 0; g < groupCount_; ++g) {
      if (!input.byNumber) {
        input.accumulator->write(g, answers);
        continue;
      }
      const NumberRange& range = ranges_[a][g];
      const bool seen = range.low <= range.high;
      const unsigned short number = input.function == AggregateFunction::MIN ? range.low : range.high;
      answers.append(seen ? decode(input.index, number, false) : nullptr);
    }
  }
  return std::make_unique<GroupedSet>(std::move(columns), std::move(nullable), std::move(selected));
}
