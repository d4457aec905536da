// The rows of one table, kept as references to node rows; filtering decides
// whole nodes from their paths and answers the other rows a block at a time.

#include "query/table_set.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "errors/interruption.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/row_bits.h"
#include "storage/bit_count.h"
#include "storage/column_map_base.h"
#include "storage/tree_table.h"
#include "storage/unaligned.h"

TableSet::TableSet(std::vector<unsigned short> selected) : selectedColumns(std::move(selected)) {}

TableSet::TableSet(std::unique_ptr<TableIterator> iterator, std::vector<unsigned short> selected)
    : selectedColumns(std::move(selected)), iterator_(std::move(iterator)) {}

void TableSet::setIterator(std::unique_ptr<TableIterator> iterator) {
  iterator_ = std::move(iterator);
}

bool TableSet::nextRow() {
  if (!iterator_->nextRow()) {
    return false;
  }
  ++currentRow;
  return true;
}

namespace {

// Writes the reference of the row whose plain part starts `offset` bytes
// into `node`'s block at `out`; returns the end of what it wrote.
char* putReference(char* out, NodeTable* node, uint32_t offset) {
  std::memcpy(out, &node, sizeof node);
  std::memcpy(out + sizeof node, &offset, sizeof offset);
  return out + TableSet::kRowWidth;
}

}  // namespace

void TableSet::addCurrentRow() {
  NodeTable* const node = iterator_->node;
  reserve(kRowWidth);
  position = putReference(position, node, static_cast<uint32_t>(iterator_->rows.current - node->start()));
  ++rowCount;
}

void TableSet::setRowDerived(unsigned int row) {
  const auto [node, offset] = reference(row);
  iterator_->positionAt(node, offset);
}

unsigned short TableSet::categoryNumberAt(uint32_t row, unsigned short col) const {
  const auto [node, offset] = reference(row);
  const TreeTable& t = table();
  const unsigned short index = t.columnIndex[col];
  const unsigned short fixed = t.branches.getPath(node->pathIndex)[index];
  if (fixed != 0) return fixed;
  return NodeTable::categoryNumberAt(node->start() + offset + NodeTable::numberOffset(index, t.numCategories));
}

DATA_TYPE TableSet::getSelectDataType(unsigned short k) {
  return table().columnTypes[selectedColumns[k]];
}

bool TableSet::selectMayBeNull(unsigned short k) { return table().nullable[selectedColumns[k]] != 0; }

std::string TableSet::getSelectString(unsigned short k) {
  return iterator_->getString(selectedColumns[k]);
}

std::string TableSet::getString(unsigned short col) { return iterator_->getString(col); }

void* TableSet::getSelectPointer(unsigned short k) {
  if (placedNode_ != iterator_->node || placedColumns_ != selectedColumns) placeColumns();
  const ColumnPlace& place = (*places_)[k];
  if (!place.located()) return iterator_->getPointer(selectedColumns[k]);
  return valueIn(place, iterator_->rows.current, *iterator_->rows.config);
}

void TableSet::placeColumns(const NodeTable* node) {
  if (placedColumns_ != selectedColumns) {
    placedColumns_ = selectedColumns;
    placesByPath_.clear();
  }
  placedNode_ = node;
  if (node == nullptr) {
    unplaced_.assign(selectedColumns.size(), ColumnPlace{});
    places_ = &unplaced_;
    return;
  }
  if (placesByPath_.size() <= node->pathIndex) placesByPath_.resize(node->pathIndex + 1);
  std::vector<ColumnPlace>& places = placesByPath_[node->pathIndex];
  if (places.size() != selectedColumns.size()) {
    places.resize(selectedColumns.size());
    for (size_t k = 0; k < selectedColumns.size(); ++k) places[k] = placeColumn(*node, k);
  }
  places_ = &places;
}

TableSet::ColumnPlace TableSet::placeColumn(const NodeTable& node, size_t k) {
  const TreeTable& t = table();
  ColumnPlace place;
  const unsigned short col = selectedColumns[k];
  if (col >= t.numColumns) return place;
  const unsigned short index = t.columnIndex[col];
  if (t.isPlain[col] == 0) {
    const unsigned short fixed = t.branches.getPath(node.pathIndex)[index];
    if (fixed == 0) {
      const std::vector<const void*>& decoded = decodedValues(index);
      place.decoded = decoded.data();
      place.decodedCount = decoded.size();
      place.number = NodeTable::numberOffset(index, t.numCategories);
    } else if (fixed == NULL_CATEGORY && t.nullable[col] != 0) {
      place.null = true;
    } else {
      place.fixed = t.levelMaps[index]->getValuePointer(fixed);
    }
    return place;
  }
  const NodeConfig& layout = *node.config;
  if (index >= layout.numColumns) return place;
  if (layout.nullBits[index] != NodeConfig::kNoNullBit) place.nullable = index;
  const unsigned short position = layout.positions[index];
  if (position < layout.numFixed) {
    place.offset = layout.offsets[position];
  } else {
    place.text = position - layout.numFixed;
  }
  return place;
}

const std::vector<const void*>& TableSet::decodedValues(unsigned short index) {
  if (decoded_.size() <= index) decoded_.resize(size_t{index} + 1);
  std::vector<const void*>& values = decoded_[index];
  if (values.empty()) {
    // A map lookup a row would cost more than the rest of the row's read.
    ColumnMapBase& map = *table().levelMaps[index];
    std::vector<unsigned short> numbers;
    map.getAllInts(numbers);
    values.assign(numbers.empty() ? size_t{1} : size_t{numbers.back()} + 1, nullptr);
    for (const unsigned short number : numbers) values[number] = map.getValuePointer(number);
  }
  return values;
}

void TableSet::keepSortedValues() {
  if (!hasPermutation() || selectedColumns.empty()) return;
  // Texts of plain columns are copied into result order too; a categorised
  // column's texts are its map's, few and shared.
  const std::unique_ptr<CopiedColumns> stored = copyStoredValues(true);
  if (stored != nullptr) sorted_ = std::make_unique<CopiedColumns>(stored->permuted(permutation));
}

std::unique_ptr<CopiedColumns> TableSet::copyStoredValues(bool copyTexts) {
  std::vector<unsigned short> widths;
  std::vector<bool> copiedTexts;
  size_t rowBytes = 0;
  const TreeTable& t = table();
  for (unsigned short k = 0; k < selectedColumns.size(); ++k) {
    const unsigned short col = selectedColumns[k];
    const bool known = col < t.numColumns;
    // A column that may hold NULL keeps pointers, nullptr for a NULL.
    const bool nullable = known && t.nullable[col] != 0;
    widths.push_back(nullable ? 0 : getTypeWidth(getSelectDataType(k)));
    copiedTexts.push_back(copyTexts && getSelectDataType(k) == STRING && known && t.isPlain[col] != 0);
    rowBytes += widths.back() == 0 ? sizeof(const void*) : widths.back();
  }
  // A wide answer reads its rows where they are: a copy of it would cost
  // about as much memory again as the table.
  if (rowBytes > kMaxCopiedRowBytes) return nullptr;
  auto stored = std::make_unique<CopiedColumns>(widths, copiedTexts, rowCount);
  constexpr uint32_t kChunkRows = 256;
  uint32_t rows[kChunkRows];
  std::vector<const void*> values(kChunkRows * widths.size());
  for (uint32_t first = 0; first < rowCount; first += kChunkRows) {
    if (first % kRowsPerInterruptCheck == 0) checkInterrupt();
    const uint32_t chunk = std::min(kChunkRows, rowCount - first);
    std::iota(rows, rows + chunk, first);
    selectStored(rows, chunk, values.data(), chunk);
    for (size_t k = 0; k < widths.size(); ++k) {
      const void* const* const column = values.data() + k * chunk;
      for (uint32_t i = 0; i < chunk; ++i) stored->put(k, first + i, column[i]);
    }
  }
  return stored;
}

void TableSet::selectPointers(unsigned short k, uint32_t first, uint32_t end, const void** out) {
  if (sorted_ != nullptr) {
    sorted_->read(k, first, end, out);
    return;
  }
  const NodeTable* placed = nullptr;
  ColumnPlace place;
  for (uint32_t position = first; position < end; ++position) {
    const uint32_t row = storedRow(position);
    const auto [node, offset] = reference(row);
    if (node != placed) {
      place = placeColumn(*node, k);
      placed = node;
    }
    if (place.located()) {
      *out++ = valueIn(place, node->start() + offset, *node->config);
      continue;
    }
    setRowDerived(row);
    *out++ = iterator_->getPointer(selectedColumns[k]);
  }
}

void TableSet::selectRows(uint32_t first, uint32_t end, const void** out) {
  if (sorted_ != nullptr) {
    for (size_t k = 0; k < selectedColumns.size(); ++k) sorted_->read(k, first, end, out + k * (end - first));
    return;
  }
  constexpr uint32_t kChunkRows = 256;
  uint32_t rows[kChunkRows];
  for (uint32_t position = first; position < end; position += kChunkRows) {
    const uint32_t chunk = std::min(kChunkRows, end - position);
    for (uint32_t i = 0; i < chunk; ++i) rows[i] = storedRow(position + i);
    selectStored(rows, chunk, out + (position - first), end - first);
  }
}

void TableSet::selectStored(const uint32_t* rows, uint32_t count, const void** out, size_t stride) {
  // Rows are taken in runs that lie in one node, and each run column by
  // column: a column's place is looked at once per run, and its values are
  // written one after the other.
  const void* plains[kMaxRunRows];
  for (uint32_t i = 0; i < count;) {
    const auto [node, run] = nodeRun(rows + i, count - i, plains);
    const void** slot = out + i;
    for (size_t k = 0; k < selectedColumns.size(); ++k, slot += stride) pointRun(k, *node, plains, rows + i, run, slot);
    i += run;
  }
}

uint32_t TableSet::selectRun(uint32_t first, uint32_t end, ValueRun* runs, const void** scratch) {
  // Sorted rows seldom share a node with the next: they are read as
  // pointers, from the sorted copy when there is one.
  if (hasPermutation()) return ResultSet::selectRun(first, end, runs, scratch);
  const void** const plains = scratch;
  const auto [node, run] = storedRun(first, std::min(end - first, kMaxRunRows), plains);
  // The next run takes about as many bytes as this one.
  const char* const last = static_cast<const char*>(plains[run - 1]);
  readAhead(first + run, end, static_cast<size_t>(last - static_cast<const char*>(plains[0])) + 64);
  for (size_t k = 0; k < selectedColumns.size(); ++k) {
    describeRun(k, *node, plains, run, scratch + (k + 1) * kMaxRunRows, runs);
  }
  return run;
}

void TableSet::describeNodeRows(const NodeTable& node, const void* const* plains, uint32_t run, ValueRun* runs,
                                const void** scratch) {
  if (&node != placedNode_ || placedColumns_ != selectedColumns) placeColumns(&node);
  for (size_t k = 0; k < selectedColumns.size(); ++k) {
    describeRun(k, node, plains, run, scratch + k * kMaxRunRows, runs);
  }
}

void TableSet::describeRun(size_t k, const NodeTable& node, const void* const* plains, uint32_t run,
                           const void** room, ValueRun* runs) {
  const ColumnPlace& place = (*places_)[k];
  const NodeConfig& layout = *node.config;
  ValueRun& out = runs[k];
  out = ValueRun{};
  if (place.fixed != nullptr) {
    out.same = place.fixed;
  } else if (place.null) {
    out.allNull = true;
  } else if (place.offset >= 0 || place.text == 0) {
    // The first text follows the fixed part. A NULL keeps its place in
    // the row, so the values are read where they lie and the row's null
    // bit beside them.
    out.bases = plains;
    out.offset = place.offset >= 0 ? static_cast<size_t>(place.offset) : layout.fixedWidth;
    if (place.nullable >= 0) {
      const unsigned short bit = layout.nullBits[static_cast<size_t>(place.nullable)];
      out.nullMask = static_cast<uint8_t>(1u << (bit & 7));
      out.flags = nullFlags(k, bit >> 3, layout, plains, run, room, runs);
    }
  } else if (place.decoded != nullptr) {
    out.bases = plains;
    out.categories = place.decoded;
    out.categoryCount = place.decodedCount;
    out.numberAt = place.number;
  } else if (!place.located()) {
    // A column the node's rows do not hold reads as NULL in each of them.
    out.allNull = true;
  } else {
    pointRun(k, node, plains, nullptr, run, room);
    out.bases = room;
  }
}

const uint8_t* TableSet::nullFlags(size_t k, size_t byte, const NodeConfig& layout, const void* const* plains,
                                   uint32_t run, const void** room, const ValueRun* runs) const {
  // An earlier column whose null bit lies in the same byte has gathered it.
  for (size_t j = 0; j < k; ++j) {
    const int32_t nullable = (*places_)[j].nullable;
    if (runs[j].flags != nullptr && layout.nullBits[static_cast<size_t>(nullable)] >> 3 == byte) return runs[j].flags;
  }
  auto* const flags = reinterpret_cast<uint8_t*>(room);
  const auto flagOf = [plains, byte](size_t i) { return static_cast<const uint8_t*>(plains[i])[byte]; };
  // Four rows a step, then the rest.
  const size_t stepped = run & ~size_t{3};
  for (size_t i = 0; i < stepped; i += 4) {
    flags[i] = flagOf(i);
    flags[i + 1] = flagOf(i + 1);
    flags[i + 2] = flagOf(i + 2);
    flags[i + 3] = flagOf(i + 3);
  }
  for (size_t i = stepped; i < run; ++i) flags[i] = flagOf(i);
  return flags;
}

void TableSet::readAhead(uint32_t row, uint32_t end, size_t bytes) const {
  if (row >= end) return;
  // One request a cache line: a request for a line already asked for
  // still takes a slot among the few the processor keeps for lines on
  // their way.
  constexpr size_t kLine = 64;
  const auto [node, offset] = reference(row);
  const char* const from = node->start() + offset;
  const char* const to = from + std::min(bytes, node->used() - offset);
  for (const char* at = from; at < to; at += kLine) __builtin_prefetch(at);
}

std::pair<const NodeTable*, uint32_t> TableSet::storedRun(uint32_t first, uint32_t count, const void** plains) {
  const char* const references = start() + static_cast<size_t>(first) * kRowWidth;
  return runOfNode<true>(count, plains, [references](size_t i) { return references + i * kRowWidth; });
}

std::pair<const NodeTable*, uint32_t> TableSet::nodeRun(const uint32_t* rows, uint32_t count, const void** plains) {
  const char* const references = start();
  return runOfNode<false>(count, plains,
                          [references, rows](size_t i) { return references + static_cast<size_t>(rows[i]) * kRowWidth; });
}

template <bool Stepped, typename ReferenceAt>
std::pair<const NodeTable*, uint32_t> TableSet::runOfNode(uint32_t count, const void** plains,
                                                          ReferenceAt referenceAt) {
  NodeTable* node;
  std::memcpy(&node, referenceAt(0), sizeof node);
  if (node != placedNode_ || placedColumns_ != selectedColumns) placeColumns(node);
  // Locals: the stores to plains could change the members, for all the
  // compiler knows, and force them to be read again for every row.
  const char* const rowsStart = node->start();
  const auto nodeOf = [&referenceAt](size_t i) {
    uintptr_t rowNode;
    std::memcpy(&rowNode, referenceAt(i), sizeof rowNode);
    return rowNode;
  };
  const auto plainOf = [&referenceAt, rowsStart](size_t i) {
    uint32_t offset;
    std::memcpy(&offset, referenceAt(i) + sizeof(NodeTable*), sizeof offset);
    return rowsStart + offset;
  };
  const auto key = reinterpret_cast<uintptr_t>(node);
  const size_t limit = std::min(count, kMaxRunRows);
  size_t run = 0;
  // Four rows a step while all four lie in the node: one test for four.
  for (; Stepped && run + 4 <= limit; run += 4) {
    if (((nodeOf(run) ^ key) | (nodeOf(run + 1) ^ key) | (nodeOf(run + 2) ^ key) | (nodeOf(run + 3) ^ key)) != 0) {
      break;
    }
    plains[run] = plainOf(run);
    plains[run + 1] = plainOf(run + 1);
    plains[run + 2] = plainOf(run + 2);
    plains[run + 3] = plainOf(run + 3);
  }
  for (; run < limit && nodeOf(run) == key; ++run) plains[run] = plainOf(run);
  return {node, static_cast<uint32_t>(run)};
}

void TableSet::pointRun(size_t k, const NodeTable& node, const void* const* plains, const uint32_t* rows,
                        uint32_t run, const void** out) {
  const ColumnPlace& place = (*places_)[k];
  if (place.fixed != nullptr || place.null) {
    std::fill(out, out + run, place.fixed);
    return;
  }
  if (place.nullable >= 0) {
    for (uint32_t i = 0; i < run; ++i) out[i] = valueIn(place, static_cast<const char*>(plains[i]), *node.config);
    return;
  }
  if (place.offset >= 0) {
    for (uint32_t i = 0; i < run; ++i) out[i] = static_cast<const char*>(plains[i]) + place.offset;
    return;
  }
  if (place.text >= 0) {
    const auto text = static_cast<unsigned short>(place.text);
    for (uint32_t i = 0; i < run; ++i) out[i] = node.config->stringAt(static_cast<const char*>(plains[i]), text);
    return;
  }
  if (place.decoded != nullptr) {
    for (uint32_t i = 0; i < run; ++i) out[i] = valueIn(place, static_cast<const char*>(plains[i]), *node.config);
    return;
  }
  for (uint32_t i = 0; i < run; ++i) {
    setRowDerived(rows[i]);
    out[i] = iterator_->getPointer(selectedColumns[k]);
  }
}

void* TableSet::getPointer(unsigned short col) { return iterator_->getPointer(col); }

void* TableSet::getPointerPath(unsigned short col) {
  const TreeTable& t = table();
  const unsigned short index = t.columnIndex[col];
  NodeIterator& rows = iterator_->rows;
  if (t.isPlain[col] != 0) {
    return const_cast<char*>(rows.config->valueAt(rows.current, index));
  }
  // The node's path holds the number when the level is fixed for the node;
  // otherwise the row carries its own copy just before its plain part.
  const unsigned short* path = t.branches.getPath(iterator_->pathIndex);
  if (path[index] != 0) {
    return const_cast<unsigned short*>(path + index);
  }
  return rows.current + NodeTable::numberOffset(index, t.numCategories);
}

const void* TableSet::getPointerPathOrNull(unsigned short col) {
  const void* const value = getPointerPath(col);
  const TreeTable& t = table();
  if (t.nullable[col] == 0) return value;
  if (t.isPlain[col] != 0) return iterator_->rows.config->isNull(iterator_->rows.current, t.columnIndex[col]) ? nullptr : value;
  return unaligned::load<unsigned short>(value) == NULL_CATEGORY ? nullptr : value;
}

unsigned short TableSet::getNumberOfSelectCols() {
  return static_cast<unsigned short>(selectedColumns.size());
}

unsigned short TableSet::getNumberOfCols() { return table().numColumns; }

namespace {

// Rows evaluated together, condition after condition: a multiple of 64,
// small enough for the rows to stay in the first-level cache.
constexpr size_t kBlockRows = 256;

// Where a condition finds its column's value in a node row.
struct ConditionSource {
  const Condition* condition;
  bool categorised;       // the value is a category number
  bool text;              // a plain STRING value, found by walking the texts
  unsigned short index;   // path position, or plain index
  unsigned short offset;  // byte offset in the plain part of a fixed-width plain value
  unsigned short width;   // bytes of a fixed-width plain value
  ptrdiff_t number;       // where a row holds a category number, from its plain part
  bool nullable;          // a plain value whose NULL the row's null bitmap marks
};

// The conditions of a where clause as a scan of one table's nodes answers
// them: which are fixed by a node's path, and where the others read their
// values. The conditions' answers go to the clause.
class ConditionPlan {
 public:
  // `conditions` must outlive the plan.
  ConditionPlan(const TreeTable& table, const std::vector<Condition*>& conditions, CombinedBooleanExpression& root);

  // The clause's answer for every row of `node`, from the conditions on
  // levels its path fixes; Unknown when the rows must be read.
  Truth decide(const NodeTable& node);
  // After decide() answered Unknown: the mask of the rows of `node` (at
  // `rows`, its plain offsets) that pass, bits past the rows clear; valid
  // until the next call.
  const uint64_t* passingRows(NodeTable& node, const std::vector<uint32_t>& rows);

 private:
  static ConditionSource sourceOf(const TreeTable& table, const Condition* condition);
  // Sizes the masks for `words` words, fills those of the conditions the
  // node's path answered and finds the column copies the others read.
  void prepareMasks(NodeTable& node, size_t words);
  // Answers the unknown conditions for the `count` rows at plain offsets
  // block[0 .. count) of the block at `base`, the rows from `first` on.
  void evaluateBlock(const char* base, const uint32_t* block, size_t first, size_t count);
  // Sets the bits of the rows of such a block that hold NULL in `source`'s
  // column to its condition's answer for NULL.
  void answerNulls(const ConditionSource& source, const char* base, const uint32_t* block, size_t count,
                   uint64_t* bits) const;

  const TreeTable& table_;
  const NodeConfig& layout_;  // of the rows' plain parts
  CombinedBooleanExpression& root_;
  std::vector<ConditionSource> sources_;
  std::vector<std::vector<uint64_t>> masks_;  // per condition
  std::vector<const char*> columns_;          // per condition: its column copy, if read from one
};

ConditionPlan::ConditionPlan(const TreeTable& table, const std::vector<Condition*>& conditions,
                             CombinedBooleanExpression& root)
    : table_(table),
      layout_(table.plainConfig),
      root_(root),
      masks_(conditions.size()),
      columns_(conditions.size()) {
  sources_.reserve(conditions.size());
  for (size_t i = 0; i < conditions.size(); ++i) {
    const Condition* condition = conditions[i];
    sources_.push_back(sourceOf(table, condition));
    // A condition with a fixed answer has it for every node.
    if (condition->fixedAnswer) root_.set(i, condition->evaluate(nullptr));
  }
}

ConditionSource ConditionPlan::sourceOf(const TreeTable& table, const Condition* condition) {
  const unsigned short column = condition->column;
  const unsigned short index = table.columnIndex[column];
  ConditionSource source{condition, table.isPlain[column] == 0, false, index, 0, 0, 0, false};
  if (source.categorised) {
    source.number = NodeTable::numberOffset(index, table.numCategories);
    return source;
  }
  const NodeConfig& layout = table.plainConfig;
  source.nullable = layout.nullBits[index] != NodeConfig::kNoNullBit;
  const unsigned short position = layout.positions[index];
  source.text = position >= layout.numFixed;
  if (!source.text) {
    source.offset = layout.offsets[position];
    source.width = getTypeWidth(table.columnTypes[column]);
  }
  return source;
}

Truth ConditionPlan::decide(const NodeTable& node) {
  const unsigned short* path = table_.branches.getPath(node.pathIndex);
  for (size_t i = 0; i < sources_.size(); ++i) {
    const ConditionSource& source = sources_[i];
    if (source.condition->fixedAnswer) continue;
    if (source.categorised && path[source.index] != 0) {
      root_.set(i, source.condition->evaluate(path + source.index));
    } else {
      root_.setUnknown(i);
    }
  }
  return root_.evaluatePartial();
}

const uint64_t* ConditionPlan::passingRows(NodeTable& node, const std::vector<uint32_t>& rows) {
  const size_t count = rows.size();
  const size_t words = row_bits::wordsFor(count);
  prepareMasks(node, words);
  // Every condition reads a block of rows while it is still in the cache.
  for (size_t first = 0; first < count; first += kBlockRows) {
    evaluateBlock(node.start(), rows.data() + first, first, std::min(kBlockRows, count - first));
  }
  return root_.combine(masks_, count);
}

void ConditionPlan::prepareMasks(NodeTable& node, size_t words) {
  for (size_t i = 0; i < sources_.size(); ++i) {
    const ConditionSource& source = sources_[i];
    const Truth answer = root_.answer(i);
    masks_[i].resize(words);
    if (answer != Truth::Unknown) {
      std::fill(masks_[i].begin(), masks_[i].end(), answer == Truth::True ? ~uint64_t{0} : 0);
    }
    // Plain fixed-width values are read from the node's column copies.
    const bool dense = answer == Truth::Unknown && !source.categorised && !source.text;
    columns_[i] = dense ? node.plainColumn(source.offset, source.width).data() : nullptr;
  }
}

void ConditionPlan::evaluateBlock(const char* base, const uint32_t* block, size_t first, size_t count) {
  const char* texts[kBlockRows];
  for (size_t i = 0; i < sources_.size(); ++i) {
    const ConditionSource& source = sources_[i];
    const Condition& condition = *source.condition;
    if (root_.answer(i) != Truth::Unknown) continue;
    uint64_t* bits = masks_[i].data() + first / 64;
    if (source.categorised) {
      condition.evaluateRows(base, block, source.number, count, bits);
    } else if (!source.text) {
      condition.evaluateDense(columns_[i] + first * source.width, source.width, count, bits);
    } else {
      for (size_t row = 0; row < count; ++row) texts[row] = layout_.valueAt(base + block[row], source.index);
      condition.evaluateTexts(texts, count, bits);
    }
    if (source.nullable) answerNulls(source, base, block, count, bits);
  }
}

void ConditionPlan::answerNulls(const ConditionSource& source, const char* base, const uint32_t* block, size_t count,
                                uint64_t* bits) const {
  const bool answer = source.condition->nullAnswer;
  for (size_t first = 0; first < count; first += 64) {
    const size_t last = std::min(count, first + 64);
    uint64_t nulls = 0;
    for (size_t row = first; row < last; ++row) {
      nulls |= static_cast<uint64_t>(layout_.isNull(base + block[row], source.index) ? 1 : 0) << (row - first);
    }
    uint64_t& word = bits[first / 64];
    word = answer ? word | nulls : word & ~nulls;
  }
}

// The rows each node keeps, gathered before any reference is stored so
// that the references go into a buffer grown once.
class KeptRows : public TableSet::PassingRows {
 public:
  void wholeNode(NodeTable& node) override {
    nodes_.push_back({&node, true, 0});
    total_ += node.plainOffsets().size();
  }
  void markedRows(NodeTable& node, const uint64_t* bits) override {
    const size_t words = row_bits::wordsFor(node.plainOffsets().size());
    for (size_t w = 0; w < words; ++w) total_ += static_cast<size_t>(countOnes(bits[w]));
    nodes_.push_back({&node, false, bits_.size()});
    bits_.insert(bits_.end(), bits, bits + words);
  }
  size_t total() const { return total_; }
  // Writes the references of the kept rows from `out` on, in node order;
  // returns the end of what it wrote.
  char* write(char* out) const;

 private:
  struct NodeKeeps {
    NodeTable* node;
    bool whole;        // every row, or the rows whose bit is set
    size_t firstWord;  // where the node's bits start in `bits_`
  };
  std::vector<NodeKeeps> nodes_;
  std::vector<uint64_t> bits_;
  size_t total_ = 0;
};

char* KeptRows::write(char* out) const {
  for (const NodeKeeps& kept : nodes_) {
    NodeTable* const node = kept.node;
    // The node's offsets were built by the scan and are only read here.
    const std::vector<uint32_t>& rows = node->plainOffsets();
    if (kept.whole) {
      for (const uint32_t row : rows) out = putReference(out, node, row);
      continue;
    }
    const uint64_t* bits = bits_.data() + kept.firstWord;
    for (size_t w = 0; w < row_bits::wordsFor(rows.size()); ++w) {
      for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
        out = putReference(out, node, rows[w * 64 + static_cast<size_t>(std::countr_zero(word))]);
      }
    }
  }
  return out;
}

// Hands the rows of `node` that pass the clause `plan` answers to `out`.
void passRows(ConditionPlan& plan, NodeTable& node, TableSet::PassingRows& out) {
  const Truth decided = plan.decide(node);
  if (decided == Truth::False) return;
  if (decided == Truth::True) {
    out.wholeNode(node);
    return;
  }
  out.markedRows(node, plan.passingRows(node, node.plainOffsets()));
}

}  // namespace

bool TableSet::filtersByNode(const std::vector<Condition*>& conditions) const {
  if (iterator_ == nullptr || !iterator_->beforeFirst) return false;
  const unsigned short columns = table().numColumns;
  return std::all_of(conditions.begin(), conditions.end(),
                     [columns](const Condition* condition) { return condition->column < columns; });
}

bool TableSet::visitPassingRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root,
                                PassingRows& out) {
  if (!filtersByNode(conditions)) return false;
  const TreeTable& t = table();
  ConditionPlan plan(t, conditions, root);
  for (NodeTable* node : t.nodes) {
    checkInterrupt();
    if (node->used() != 0) passRows(plan, *node, out);
  }
  return true;
}

void TableSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  KeptRows kept;
  if (!visitPassingRows(conditions, root, kept)) {
    ResultSet::filterRows(conditions, root);
    return;
  }
  // The references are written through KeptRows's own pointer into room
  // reserved once: stores into the buffer could otherwise alias its own
  // bookkeeping, which would then be reloaded for every row.
  reserve(kept.total() * kRowWidth);
  position = kept.write(position);
  rowCount += static_cast<uint32_t>(kept.total());
  // The scan read every row, as the row-by-row walk would have; the
  // iterator is left at the end as that walk leaves it.
  currentRow += table().numRows;
  iterator_->positionAtEnd();
}
