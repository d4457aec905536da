// The rows of one table, kept as references to node rows; filtering decides
// whole nodes from their paths and answers the other rows a block at a time.

#include "query/table_set.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "errors/interruption.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/row_bits.h"
#include "storage/bit_count.h"
#include "storage/tree_table.h"

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

void TableSet::addCurrentRow() {
  NodeTable* const node = iterator_->node;
  addReference(node, static_cast<uint32_t>(iterator_->rows.current - node->start()));
}

void TableSet::addReference(NodeTable* node, uint32_t offset) {
  reserve(kRowWidth);
  std::memcpy(position, &node, sizeof node);
  std::memcpy(position + sizeof node, &offset, sizeof offset);
  position += kRowWidth;
  ++rowCount;
}

void TableSet::setRowDerived(unsigned int row) {
  const auto [node, offset] = reference(row);
  TableIterator& it = *iterator_;
  it.node = node;
  it.pathIndex = node->pathIndex;
  it.beforeFirst = false;
  it.rows.config = node->config;
  it.rows.level = node->level;
  it.rows.end = node->position;
  it.rows.current = node->start() + offset;
}

unsigned short TableSet::categoryNumberAt(uint32_t row, unsigned short col) const {
  const auto [node, offset] = reference(row);
  const TreeTable& t = table();
  const unsigned short index = t.columnIndex[col];
  const unsigned short fixed = t.branches.getPath(node->pathIndex)[index];
  if (fixed != 0) return fixed;
  unsigned short number = 0;
  std::memcpy(&number, node->start() + offset - 2 * static_cast<size_t>(t.numCategories - index), sizeof number);
  return number;
}

DATA_TYPE TableSet::getSelectDataType(unsigned short k) {
  return table().columnTypes[selectedColumns[k]];
}

std::string TableSet::getSelectString(unsigned short k) {
  return iterator_->getString(selectedColumns[k]);
}

std::string TableSet::getString(unsigned short col) { return iterator_->getString(col); }

void* TableSet::getSelectPointer(unsigned short k) {
  if (placedNode_ != iterator_->node || placedColumns_ != selectedColumns) placeColumns();
  void* const value = valueIn((*places_)[k], iterator_->rows.current, *iterator_->rows.config);
  return value != nullptr ? value : iterator_->getPointer(selectedColumns[k]);
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

TableSet::ColumnPlace TableSet::placeColumn(const NodeTable& node, size_t k) const {
  const TreeTable& t = table();
  ColumnPlace place;
  const unsigned short col = selectedColumns[k];
  if (col >= t.numColumns) return place;
  const unsigned short index = t.columnIndex[col];
  if (t.isPlain[col] == 0) {
    const unsigned short fixed = t.branches.getPath(node.pathIndex)[index];
    if (fixed != 0) place.fixed = t.levelMaps[index]->getValuePointer(fixed);
    return place;
  }
  const NodeConfig& layout = *node.config;
  if (index >= layout.numColumns) return place;
  const unsigned short position = layout.positions[index];
  if (position < layout.numFixed) {
    place.offset = layout.offsets[position];
  } else {
    place.text = position - layout.numFixed;
  }
  return place;
}

void TableSet::selectPointers(unsigned short k, uint32_t first, uint32_t end, const void** out) {
  const NodeTable* placed = nullptr;
  ColumnPlace place;
  for (uint32_t position = first; position < end; ++position) {
    const uint32_t row = storedRow(position);
    const auto [node, offset] = reference(row);
    if (node != placed) {
      place = placeColumn(*node, k);
      placed = node;
    }
    void* value = valueIn(place, node->start() + offset, *node->config);
    if (value == nullptr) {
      setRowDerived(row);
      value = iterator_->getPointer(selectedColumns[k]);
    }
    *out++ = value;
  }
}

void TableSet::selectRows(uint32_t first, uint32_t end, const void** out) {
  constexpr uint32_t kChunkRows = 256;
  uint32_t rows[kChunkRows];
  for (uint32_t position = first; position < end; position += kChunkRows) {
    const uint32_t chunk = std::min(kChunkRows, end - position);
    for (uint32_t i = 0; i < chunk; ++i) rows[i] = storedRow(position + i);
    selectStored(rows, chunk, out + (position - first), end - first);
  }
}

void TableSet::selectStored(const uint32_t* rows, uint32_t count, const void** out, size_t stride) {
  const size_t columns = selectedColumns.size();
  // Rows are taken in runs that lie in one node, and each run column by
  // column: a column's place is looked at once per run, and its values are
  // written one after the other.
  constexpr uint32_t kRunRows = 256;
  char* plains[kRunRows];
  for (uint32_t i = 0; i < count;) {
    NodeTable* const node = reference(rows[i]).first;
    if (node != placedNode_ || placedColumns_ != selectedColumns) placeColumns(node);
    uint32_t run = 0;
    for (; run < kRunRows && i + run < count; ++run) {
      const auto [rowNode, offset] = reference(rows[i + run]);
      if (rowNode != node) break;
      plains[run] = node->start() + offset;
    }
    const void** slot = out + i;
    for (size_t k = 0; k < columns; ++k, slot += stride) selectRun(k, *node, plains, rows + i, run, slot);
    i += run;
  }
}

void TableSet::selectRun(size_t k, const NodeTable& node, char* const* plains, const uint32_t* rows, uint32_t run,
                         const void** out) {
  const ColumnPlace& place = (*places_)[k];
  if (place.fixed != nullptr) {
    std::fill(out, out + run, place.fixed);
    return;
  }
  if (place.offset >= 0) {
    for (uint32_t i = 0; i < run; ++i) out[i] = plains[i] + place.offset;
    return;
  }
  if (place.text >= 0) {
    const auto text = static_cast<unsigned short>(place.text);
    for (uint32_t i = 0; i < run; ++i) out[i] = node.config->stringAt(plains[i], text);
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
    return rows.getPointer(index);
  }
  // The node's path holds the number when the level is fixed for the node;
  // otherwise the row carries its own copy just before its plain part.
  const unsigned short* path = t.branches.getPath(iterator_->pathIndex);
  if (path[index] != 0) {
    return const_cast<unsigned short*>(path + index);
  }
  return rows.current - 2 * static_cast<size_t>(t.numCategories - index);
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
  Condition* condition;
  bool categorised;       // the value is a category number
  unsigned short index;   // path position, or plain index
  unsigned short offset;  // byte offset in the plain part of a fixed-width plain value
  unsigned short width;   // bytes of a fixed-width plain value
  bool text;              // a plain STRING value, found by walking the texts
};

}  // namespace

void TableSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  const TreeTable& t = table();
  bool usable = iterator_ != nullptr && iterator_->beforeFirst;
  for (const Condition* condition : conditions) usable = usable && condition->column < t.numColumns;
  if (!usable) {
    ResultSet::filterRows(conditions, root);
    return;
  }
  const NodeConfig& layout = t.plainConfig;
  std::vector<ConditionSource> sources;
  sources.reserve(conditions.size());
  for (Condition* condition : conditions) {
    const unsigned short column = condition->column;
    const unsigned short index = t.columnIndex[column];
    ConditionSource source{condition, t.isPlain[column] == 0, index, 0, 0, false};
    if (!source.categorised) {
      const unsigned short position = layout.positions[index];
      source.text = position >= layout.numFixed;
      if (!source.text) {
        source.offset = layout.offsets[position];
        source.width = getTypeWidth(t.columnTypes[column]);
      }
    }
    sources.push_back(source);
  }
  const UnknownFlags clearFlags(conditions);
  std::vector<std::vector<uint64_t>> masks(conditions.size());
  std::vector<const char*> columns(conditions.size());
  // A row's own category numbers lie just before its plain part.
  const ptrdiff_t numbersBefore = 2 * static_cast<ptrdiff_t>(t.numCategories);
  // What each node keeps, gathered first so that the references are stored
  // into a buffer grown once.
  struct NodeKeeps {
    NodeTable* node;
    bool whole;        // every row, or the rows whose bit is set
    size_t firstWord;  // where the node's bits start in `keptBits`
  };
  std::vector<NodeKeeps> keeps;
  std::vector<uint64_t> keptBits;
  size_t total = 0;

  for (NodeTable* node : t.nodes) {
    checkInterrupt();
    if (node->used() == 0) continue;
    // Conditions on levels the node's path fixes have one answer for all
    // its rows; the rest are unknown until the rows are read.
    const unsigned short* path = t.branches.getPath(node->pathIndex);
    for (ConditionSource& source : sources) {
      Condition& condition = *source.condition;
      const bool fixed = source.categorised && path[source.index] != 0;
      condition.unknown = !fixed && !condition.fixedAnswer;
      if (fixed && !condition.fixedAnswer) condition.evaluate(path + source.index);
    }
    const Truth decided = root.evaluatePartial();
    if (decided == Truth::False) continue;

    const std::vector<uint32_t>& rows = node->plainOffsets();
    const size_t count = rows.size();
    const char* const base = node->start();
    if (decided == Truth::True) {
      keeps.push_back({node, true, 0});
      total += count;
      continue;
    }

    const size_t words = row_bits::wordsFor(count);
    for (size_t i = 0; i < sources.size(); ++i) {
      masks[i].resize(words);
      const Condition& condition = *sources[i].condition;
      if (!condition.unknown) std::fill(masks[i].begin(), masks[i].end(), condition.result ? ~uint64_t{0} : 0);
    }
    // Plain fixed-width values are read from the node's column copies.
    for (size_t i = 0; i < sources.size(); ++i) {
      const ConditionSource& source = sources[i];
      const bool dense = source.condition->unknown && !source.categorised && !source.text;
      columns[i] = dense ? node->plainColumn(source.offset, source.width).data() : nullptr;
    }
    // Every condition reads a block of rows while it is still in the cache.
    const char* texts[kBlockRows];
    for (size_t first = 0; first < count; first += kBlockRows) {
      const size_t blockRows = std::min(kBlockRows, count - first);
      const uint32_t* block = rows.data() + first;
      for (size_t i = 0; i < sources.size(); ++i) {
        const ConditionSource& source = sources[i];
        Condition& condition = *source.condition;
        uint64_t* bits = masks[i].data() + first / 64;
        if (!condition.unknown) continue;
        if (source.categorised) {
          condition.evaluateRows(base, block, 2 * static_cast<ptrdiff_t>(source.index) - numbersBefore, blockRows, bits);
        } else if (!source.text) {
          condition.evaluateDense(columns[i] + first * source.width, source.width, blockRows, bits);
        } else {
          for (size_t row = 0; row < blockRows; ++row) texts[row] = layout.valueAt(base + block[row], source.index);
          condition.evaluateTexts(texts, blockRows, bits);
        }
      }
    }
    const uint64_t* keep = root.combine(masks, count);
    for (size_t w = 0; w < words; ++w) total += static_cast<size_t>(countOnes(keep[w]));
    keeps.push_back({node, false, keptBits.size()});
    keptBits.insert(keptBits.end(), keep, keep + words);
  }

  // The references are written through a local pointer into room reserved
  // once: stores into the buffer could otherwise alias its own bookkeeping,
  // which would then be reloaded for every row.
  reserve(total * kRowWidth);
  char* out = position;
  for (const NodeKeeps& kept : keeps) {
    NodeTable* const node = kept.node;
    const auto put = [&out, node](uint32_t offset) {
      std::memcpy(out, &node, sizeof node);
      std::memcpy(out + sizeof node, &offset, sizeof offset);
      out += kRowWidth;
    };
    // The node's offsets were built above and are only read here.
    const std::vector<uint32_t>& rows = node->plainOffsets();
    if (kept.whole) {
      for (const uint32_t row : rows) put(row);
      continue;
    }
    const uint64_t* bits = keptBits.data() + kept.firstWord;
    for (size_t w = 0; w < row_bits::wordsFor(rows.size()); ++w) {
      for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
        put(rows[w * 64 + static_cast<size_t>(std::countr_zero(word))]);
      }
    }
  }
  position = out;
  rowCount += static_cast<uint32_t>(total);
  // The scan read every row, as the row-by-row walk would have; the
  // iterator is left at the end as that walk leaves it.
  currentRow += t.numRows;
  if (!t.nodes.empty()) {
    NodeTable* last = *t.nodes.rbegin();
    TableIterator& it = *iterator_;
    it.node = last;
    it.pathIndex = last->pathIndex;
    it.rows.reset(last->start(), last->position, last->config, last->level);
    it.rows.current = it.rows.end;
    it.beforeFirst = false;
  }
}
