// Adding a block of rows to a tree table: category numbers level by level
// for the whole block, then each row's node, then the rows written node by
// node. A node whose block is too small grows as addRow would grow it
// for the same row. Anything else that would change more than the rows of
// live nodes (a new value, a new branch, a split check) ends the block
// before its row, which the caller adds through addRow.

#include <algorithm>
#include <cstring>

#include "storage/string_column_map.h"
#include "storage/text_bytes.h"
#include "storage/tree_table.h"

namespace {

// Slots of the table that finds a node's block target: twice the most
// targets a block can have, so that probes stay short.
constexpr size_t kTargetIndexSlots = size_t{2} * TreeTable::kBlockRows;

// The first slot to probe for `key` in either block index.
size_t blockIndexSlot(uint64_t key) {
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ULL) >> 40) & (kTargetIndexSlots - 1);
}

size_t targetIndexSlot(const NodeTable* node) { return blockIndexSlot(reinterpret_cast<uintptr_t>(node)); }

}  // namespace

uint32_t TreeTable::addBlock(const RowBlock& block) {
  requireRowLayout(block.config);
  // The search of the block's nodes overwrites currentPath.
  lastNode_ = nullptr;
  uint32_t rows = std::min(block.rows, kBlockRows);
  rows = numberBlock(block, rows);
  rows = measureBlock(block, rows);
  rows = placeBlock(rows);
  writeBlock(block, rows);
  numRows += rows;
  // currentPath held the paths of the rows searched: the numbers it keeps
  // for repeated values are no longer the last row's.
  std::fill(lastKnown_.begin(), lastKnown_.end(), 0);
  return rows;
}

uint32_t TreeTable::numberBlock(const RowBlock& block, uint32_t rows) {
  blockPaths_.resize(size_t{rows} * numCategories);
  for (unsigned short position = 0; position < numCategories && rows > 0; ++position) {
    rows = numberBlockLevel(block, position, rows);
  }
  return rows;
}

uint32_t TreeTable::numberBlockLevel(const RowBlock& block, unsigned short position, uint32_t rows) {
  const LevelSource& source = levelSources_[position];
  const unsigned short column = categoryColumns[position];
  ColumnMapBase& map = *levelMaps[position];
  unsigned short* const numbers = blockPaths_.data() + position;
  // Runs of one value are looked up once: a text by its hash and length
  // (and where it lies, when longer than its hash tells apart), a
  // fixed-width value by its bits.
  const char* lastText = nullptr;
  size_t lastBytes = 0;
  uint64_t lastHash = 0;
  uint64_t lastBits = 0;
  unsigned short lastNumber = 0;
  for (uint32_t row = 0; row < rows; ++row) {
    const char* const plain = block.fixedOf(row);
    unsigned short number = 0;
    if (source.nullBit != NodeConfig::kNoNullBit && rowConfig_.isNull(plain, column)) {
      number = NULL_CATEGORY;
    } else if (source.isText) {
      const char* const text = block.textsOf(row)[source.place];
      const size_t bytes = block.textBytesOf(row)[source.place];
      const uint64_t hash = block.textHashesOf(row)[source.place];
      if (lastNumber != 0 && hash == lastHash && bytes == lastBytes &&
          (bytes - 1 <= text_bytes::kExactHashBytes || text == lastText)) {
        number = lastNumber;
      } else if (source.texts != nullptr) {
        number = source.texts->getIntOfText(text, bytes - 1, hash);
        lastText = text;
        lastBytes = bytes;
        lastHash = hash;
        lastNumber = number;
      }
    } else {
      uint64_t bits = 0;
      std::memcpy(&bits, plain + source.place, source.width);
      if (lastNumber != 0 && bits == lastBits) {
        number = lastNumber;
      } else {
        alignas(8) char value[8];
        std::memcpy(value, &bits, sizeof value);
        number = map.getInt(value);
        lastBits = bits;
        lastNumber = number;
      }
    }
    // A value new to its map is numbered by addRow, which may renumber.
    if (number == 0) return row;
    numbers[size_t{row} * numCategories] = number;
  }
  return rows;
}

uint32_t TreeTable::measureBlock(const RowBlock& block, uint32_t rows) {
  blockLengths_.resize(rows);
  const size_t numbersBytes = NodeTable::numbersBytes(numCategories);
  for (uint32_t row = 0; row < rows; ++row) {
    const size_t* const bytes = block.textBytesOf(row);
    size_t length = plainConfig.fixedWidth;
    for (const unsigned short index : plainTexts_) length += bytes[index];
    // addRow refuses the row with its message.
    if (length + numbersBytes > kMaxRowBytes) return row;
    blockLengths_[row] = length;
  }
  return rows;
}

uint32_t TreeTable::placeBlock(uint32_t rows) {
  // The last block's targets are forgotten here rather than after it, so
  // that a block that threw leaves none behind.
  forgetBlockTargets();
  blockTargetOfRow_.resize(rows);
  if (targetIndex_.empty()) targetIndex_.assign(kTargetIndexSlots, {nullptr, 0});
  NodeTable* node = nullptr;
  uint32_t target = 0;
  const unsigned short* previous = nullptr;
  uint64_t previousPrefix = 0;
  // No live node fixes more than maxDepth_ positions: rows agreeing on
  // those agree with the same node. Up to kCachedLevels of them are
  // compared packed into one number.
  const bool packed = maxDepth_ <= kCachedLevels;
  uint32_t placed = 0;
  for (; placed < rows; ++placed) {
    const unsigned short* const path = blockPaths_.data() + size_t{placed} * numCategories;
    const uint64_t prefix = packed ? packedPrefix(path) : 0;
    const bool samePrefix = packed ? prefix == previousPrefix : std::equal(path, path + maxDepth_, previous);
    if (placed == 0 || !samePrefix) {
      target = packed ? blockTargetOfPath(path, prefix) : blockTargetOfCurrentPath(path);
      if (target == kNoTarget) break;
      node = blockTargets_[target].node;
    }
    previous = path;
    previousPrefix = prefix;
    BlockTarget& taken = blockTargets_[target];
    const size_t used = node->used() + taken.bytes;
    const uint64_t threshold = uint64_t{node->splitAttempts} * NodeTable::kSplitThresholdStep;
    if (node->level != 0 && used != 0 && node->capacity() > threshold) break;
    const size_t bytes = NodeTable::numbersBytes(node->level) + blockLengths_[placed];
    // Rows placed before this one are not written yet: the room asked for
    // after the position is theirs and this row's.
    node->reserve(taken.bytes + bytes);
    taken.bytes += bytes;
    ++taken.rows;
    blockTargetOfRow_[placed] = target;
  }
  return placed;
}

void TreeTable::forgetBlockTargets() {
  // Only addresses are compared: a node of the last block may be gone.
  for (const BlockTarget& taken : blockTargets_) {
    size_t slot = targetIndexSlot(taken.node);
    while (targetIndex_[slot].first != taken.node) slot = (slot + 1) & (kTargetIndexSlots - 1);
    targetIndex_[slot] = {nullptr, 0};
  }
  blockTargets_.clear();
  for (const size_t slot : pathSlotsTaken_) pathIndex_[slot] = {0, 0};
  pathSlotsTaken_.clear();
}

uint32_t TreeTable::blockTargetOfPath(const unsigned short* path, uint64_t prefix) {
  // No live node fixes more than maxDepth_ positions: those name the node.
  if (pathIndex_.empty()) pathIndex_.assign(kTargetIndexSlots, {0, 0});
  size_t slot = blockIndexSlot(prefix);
  while (pathIndex_[slot].second != 0) {
    if (pathIndex_[slot].first == prefix) return pathIndex_[slot].second - 1;
    slot = (slot + 1) & (kTargetIndexSlots - 1);
  }
  const uint32_t target = blockTargetOfCurrentPath(path);
  if (target == kNoTarget) return target;
  pathIndex_[slot] = {prefix, target + 1};
  pathSlotsTaken_.push_back(slot);
  return target;
}

uint32_t TreeTable::blockTargetOfCurrentPath(const unsigned short* path) {
  std::copy_n(path, numCategories, currentPath.begin());
  NodeTable* const node = findAgreeingNode();
  return node == nullptr ? kNoTarget : blockTargetOf(node);
}

uint32_t TreeTable::blockTargetOf(NodeTable* node) {
  size_t slot = targetIndexSlot(node);
  while (targetIndex_[slot].first != nullptr) {
    if (targetIndex_[slot].first == node) return targetIndex_[slot].second;
    slot = (slot + 1) & (kTargetIndexSlots - 1);
  }
  const auto target = static_cast<uint32_t>(blockTargets_.size());
  targetIndex_[slot] = {node, target};
  blockTargets_.push_back({node, 0, 0});
  return target;
}

void TreeTable::writeBlock(const RowBlock& block, uint32_t rows) {
  // Rows grouped by target, each group in block order: its first entry
  // is where the target's rows begin in blockOrder_.
  std::vector<uint32_t>& order = blockOrder_;
  order.resize(rows);
  uint32_t start = 0;
  for (BlockTarget& taken : blockTargets_) {
    const uint32_t count = taken.rows;
    taken.rows = start;
    start += count;
  }
  for (uint32_t row = 0; row < rows; ++row) order[blockTargets_[blockTargetOfRow_[row]].rows++] = row;

  uint32_t next = 0;
  for (const BlockTarget& taken : blockTargets_) {
    NodeTable& node = *taken.node;
    char* target = node.position;
    for (; next < taken.rows; ++next) {
      const uint32_t row = order[next];
      target = writeRowAt(target, node.level, blockPaths_.data() + size_t{row} * numCategories, block.fixedOf(row),
                          block.textsOf(row), block.textBytesOf(row));
    }
    node.position = target;
  }
}
