// A tree table's configuration, adding rows (numbering their categories and
// finding their node), node splits and renumbering of category maps.

#include "storage/tree_table.h"

#include <algorithm>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "errors/database_exception.h"
#include "storage/full_level_exception.h"
#include "storage/string_column_map.h"
#include "storage/text_bytes.h"

namespace {

// Copies a fixed-width value (1, 2, 4 or 8 bytes) with copies of constant
// length, which compile to single moves.
void copyFixedWidth(char* target, const char* source, unsigned short width) {
  switch (width) {
    case 1:
      std::memcpy(target, source, 1);
      return;
    case 2:
      std::memcpy(target, source, 2);
      return;
    case 4:
      std::memcpy(target, source, 4);
      return;
    default:
      std::memcpy(target, source, 8);
  }
}

// Copies the `count` category numbers at `numbers` to `target`; the few
// of a row at a low level with copies of constant length.
void copyNumbers(char* target, const unsigned short* numbers, unsigned short count) {
  switch (count) {
    case 0:
      return;
    case 1:
      std::memcpy(target, numbers, NodeTable::numbersBytes(1));
      return;
    case 2:
      std::memcpy(target, numbers, NodeTable::numbersBytes(2));
      return;
    default:
      std::memcpy(target, numbers, NodeTable::numbersBytes(count));
  }
}

// Entries of a table indexed by category number.
constexpr size_t kNumbers = 65536;

const char* kInconsistentCategories = "Inconsistent number of categories in tree table";

}  // namespace

TreeTable::TreeTable() : searchKey_(nullptr, 0, 0, 0) {}

TreeTable::~TreeTable() {
  journal_.reset();
  destroyNodes();
  for (auto& [column, map] : columnMaps) delete map;
}

void TreeTable::clearNodeCache() { ++cacheGeneration_; }

void TreeTable::destroyNodes() {
  clearNodeCache();
  maxDepth_ = 0;
  for (NodeTable* node : nodes) delete node;
  nodes.clear();
}

void TreeTable::init(const std::vector<DATA_TYPE>& types) { init(types, {}, {}); }

void TreeTable::init(const std::vector<DATA_TYPE>& types, std::vector<unsigned short> categoryOrder,
                     const std::vector<unsigned char>& nullableColumns) {
  if (types.empty()) throw DatabaseException("A tree table needs at least one column");
  if (categoryOrder.size() != columnMaps.size()) throw DatabaseException(kInconsistentCategories);
  if (!nullableColumns.empty() && nullableColumns.size() != types.size()) {
    throw DatabaseException("Nullable flags do not match the columns of the tree table");
  }
  std::vector<unsigned char> plainFlags(types.size(), 1);
  for (const unsigned short column : categoryOrder) {
    if (column >= types.size() || columnMaps.count(column) == 0 || plainFlags[column] == 0) {
      throw DatabaseException(kInconsistentCategories);
    }
    plainFlags[column] = 0;
  }
  NodeConfig incoming;
  incoming.init(types, nullableColumns);  // also rejects unknown types before anything changes

  destroyNodes();
  numRows = 0;
  numColumns = static_cast<unsigned short>(types.size());
  numCategories = static_cast<unsigned short>(categoryOrder.size());
  columnTypes = types;
  nullable = nullableColumns.empty() ? std::vector<unsigned char>(numColumns, 0) : nullableColumns;
  categoryColumns = std::move(categoryOrder);
  isPlain = std::move(plainFlags);
  plainColumns.clear();
  plainTypes.clear();
  std::vector<unsigned char> plainNullable;
  columnIndex.assign(numColumns, 0);
  levelMaps.assign(numCategories, nullptr);
  for (unsigned short position = 0; position < numCategories; ++position) {
    const unsigned short column = categoryColumns[position];
    columnIndex[column] = position;
    levelMaps[position] = columnMaps[column];
  }
  for (unsigned short column = 0; column < numColumns; ++column) {
    if (isPlain[column] == 0) continue;
    columnIndex[column] = static_cast<unsigned short>(plainColumns.size());
    plainColumns.push_back(column);
    plainTypes.push_back(types[column]);
    plainNullable.push_back(nullable[column]);
  }

  plainConfig.init(plainTypes, plainNullable);
  // A row without plain columns keeps one filler byte, so that rows stay
  // countable once they are stored without category numbers.
  if (plainConfig.numColumns == 0) plainConfig.fixedWidth = 1;
  rowConfig_ = std::move(incoming);
  prepareCopyPlan();

  branches.init(numCategories);
  currentPath.assign(numCategories, 0);
  trialPath_.assign(numCategories, 0);
  unordered_.assign(numCategories, 0);
  lastValue_.assign(numCategories, 0);
  lastKnown_.assign(numCategories, 0);
  branches.addPath(currentPath);
  insertNode(0, numCategories);
  if (numCategories != 0) needsConfiguration = false;
}

void TreeTable::prepareCopyPlan() {
  fixedCopies_.clear();
  prepareNullCopies();
  for (unsigned short position = 0; position < plainConfig.numFixed; ++position) {
    const unsigned short column = plainColumns[plainConfig.columns[position]];
    const FixedCopy copy{rowConfig_.offsets[rowConfig_.positions[column]],
                         plainConfig.offsets[position], getTypeWidth(columnTypes[column])};
    if (!fixedCopies_.empty()) {
      FixedCopy& last = fixedCopies_.back();
      if (last.source + last.width == copy.source && last.target + last.width == copy.target) {
        last.width = static_cast<unsigned short>(last.width + copy.width);
        continue;
      }
    }
    fixedCopies_.push_back(copy);
  }

  const unsigned short numTexts = rowConfig_.numStrings;
  plainTexts_.clear();
  scannedTexts_.assign(numTexts, nullptr);
  scannedTextBytes_.assign(numTexts, 0);
  for (unsigned short text = 0; text < numTexts; ++text) {
    if (isPlain[rowConfig_.columns[rowConfig_.numFixed + text]] != 0) plainTexts_.push_back(text);
  }

  levelSources_.clear();
  for (unsigned short level = 0; level < numCategories; ++level) {
    const unsigned short column = categoryColumns[level];
    const unsigned short position = rowConfig_.positions[column];
    const bool isText = position >= rowConfig_.numFixed;
    levelSources_.push_back(
        {isText,
         isText ? static_cast<unsigned short>(position - rowConfig_.numFixed)
                : rowConfig_.offsets[position],
         getTypeWidth(columnTypes[column]),
         rowConfig_.nullBits[column],
         isText ? dynamic_cast<StringColumnMap*>(levelMaps[level]) : nullptr});
  }
}

void TreeTable::prepareNullCopies() {
  nullCopies_.clear();
  const unsigned short bytes = plainConfig.nullBytes;
  if (bytes == 0) return;
  bool sameBits = true;
  const auto incomingNulls = static_cast<size_t>(
      std::count_if(rowConfig_.nullBits.begin(), rowConfig_.nullBits.end(),
                    [](unsigned short bit) { return bit != NodeConfig::kNoNullBit; }));
  for (unsigned short index = 0; index < plainConfig.numColumns; ++index) {
    const unsigned short target = plainConfig.nullBits[index];
    if (target == NodeConfig::kNoNullBit) continue;
    const unsigned short source = rowConfig_.nullBits[plainColumns[index]];
    nullCopies_.push_back({source, target});
    sameBits = sameBits && source == target;
  }
  // With no categorised column nullable the incoming bitmap is the stored
  // one: its bytes are copied with the fixed-width values.
  if (sameBits && nullCopies_.size() == incomingNulls) {
    nullCopies_.clear();
    fixedCopies_.push_back({0, 0, bytes});
  }
}

NodeTable* TreeTable::insertNode(unsigned int pathIndex, unsigned short level) {
  clearNodeCache();
  if (level <= numCategories && numCategories - level > maxDepth_) {
    maxDepth_ = static_cast<unsigned short>(numCategories - level);
  }
  auto node = std::make_unique<NodeTable>(&plainConfig, pathIndex, level);
  nodes.insert(node.get());
  return node.release();
}

void TreeTable::checkRowLayout(const NodeConfig* config) {
  if (nodes.empty()) throw DatabaseException("Tree table is not initialised");
  if (config == nullptr || config->types != rowConfig_.types || config->nullBits != rowConfig_.nullBits) {
    throw DatabaseException("Row layout does not match the columns of the table");
  }
  if (journal_ != nullptr) journal_->checkedLayout = config;
}

void TreeTable::addRow(NodeIterator& row) {
  requireRowLayout(row.config);
  plainLength_ = scanRow(row);
  addScannedRow(row.current);
}

void TreeTable::addRow(NodeIterator& row, const char* const* texts, const size_t* textBytes) {
  requireRowLayout(row.config);
  rowTexts_ = texts;
  rowTextBytes_ = textBytes;
  plainLength_ = plainLengthOfTexts();
  addScannedRow(row.current);
}

void TreeTable::addScannedRow(const char* plain) {
  for (unsigned short position = 0; position < numCategories; ++position) {
    const LevelSource& source = levelSources_[position];
    if (source.nullBit != NodeConfig::kNoNullBit && rowConfig_.isNull(plain, categoryColumns[position])) {
      setPathNumber(position, NULL_CATEGORY);
      lastKnown_[position] = 0;
      continue;
    }
    if (source.isText) {
      const char* const text = rowTexts_[source.place];
      // A text already in the map is found by its known length, not measured again.
      const size_t length = rowTextBytes_[source.place] - 1;
      const unsigned short known = source.texts == nullptr ? 0 : source.texts->getIntOfText(text, length);
      if (known != 0) {
        setPathNumber(position, known);
        continue;
      }
      // The maps take NUL-terminated texts; the row's need not be.
      newText_.assign(text, length);
      setPathNumber(position, categoryNumber(position, newText_.data()));
      continue;
    }
    // Rows often repeat the previous row's value: its number is still in
    // currentPath.
    uint64_t bits = 0;
    copyFixedWidth(reinterpret_cast<char*>(&bits), plain + source.place, source.width);
    if (lastKnown_[position] != 0 && lastValue_[position] == bits) continue;
    // Packed rows leave values unaligned; the maps read them as typed values.
    alignas(8) char value[8];
    std::memcpy(value, &bits, sizeof value);
    lastKnown_[position] = 0;
    setPathNumber(position, categoryNumber(position, value));
    lastValue_[position] = bits;
    lastKnown_[position] = 1;
  }

  // A row on the last row's path goes to its node unless nodes changed since.
  NodeTable* node = lastNode_ != nullptr && lastNodeGeneration_ == cacheGeneration_ ? lastNode_ : locateNode();
  for (;;) {
    const uint64_t threshold = uint64_t{node->splitAttempts} * NodeTable::kSplitThresholdStep;
    // An empty node cannot be split: it takes the row whatever its block's
    // size (a rolled back load leaves its blocks grown).
    if (node->level == 0 || node->used() == 0 || node->capacity() <= threshold) {
      writeRow(*node, plain);
      break;
    }
    if (node->performSplit()) splitTable(node->pathIndex);
    node = locateNode();
  }
  lastNode_ = node;
  lastNodeGeneration_ = cacheGeneration_;
  ++numRows;
}

size_t TreeTable::scanRow(const NodeIterator& row) {
  const char* text = row.current + rowConfig_.fixedWidth;
  for (size_t index = 0; index < scannedTexts_.size(); ++index) {
    const size_t bytes = NodeConfig::textBytes(text);
    scannedTexts_[index] = text;
    scannedTextBytes_[index] = bytes;
    text += bytes;
  }
  rowTexts_ = scannedTexts_.data();
  rowTextBytes_ = scannedTextBytes_.data();
  return plainLengthOfTexts();
}

void TreeTable::refuseRowLength(size_t length) const {
  const size_t stored = length + NodeTable::numbersBytes(numCategories);
  throw DatabaseException("Row of %d bytes exceeds the limit of %d bytes per stored row",
                          static_cast<int>(stored), static_cast<int>(kMaxRowBytes));
}

unsigned short TreeTable::categoryNumber(unsigned short position, void* value) {
  ColumnMapBase* map = levelMaps[position];
  const unsigned short known = map->getInt(value);
  if (known != 0) return known;
  const unsigned short column = categoryColumns[position];
  if (map->containsValue(value)) {
    throw DatabaseException("Category map of column %d holds a value without a number", column);
  }
  map = changingMap(position);
  try {
    numberNewValue(position, *map, value);
  } catch (const FullLevelException& full) {
    if (full.column == column) throw;
    throw FullLevelException(column, full.what());
  }
  return map->getInt(value);
}

void TreeTable::numberNewValue(unsigned short position, ColumnMapBase& map, void* value) {
  // Once a map numbers out of order, looking for room in the order is
  // wasted until it is renumbered.
  if (unordered_[position] == 0 || !deferring_) {
    if (map.add(value)) return;
  }
  if (map.addUnordered(value) == 0) {
    const unsigned short column = categoryColumns[position];
    throw FullLevelException(
        column, string_format("Unable to add another value to column %d. Column should be setup as non-category.",
                              column));
  }
  unordered_[position] = 1;
  if (!deferring_) rebalanceColumn(position);
}

NodeTable* TreeTable::searchPath(const std::vector<unsigned short>& path) {
  branches.addPath(path);
  searchKey_.pathIndex = branches.numPaths - 1;
  const auto found = nodes.find(&searchKey_);
  branches.removeLastPath();
  return found == nodes.end() ? nullptr : *found;
}

NodeTable* TreeTable::findNode(unsigned int pathIndex) const {
  if (pathIndex >= branches.numPaths) return nullptr;
  searchKey_.pathIndex = pathIndex;
  const auto found = nodes.find(&searchKey_);
  if (found == nodes.end() || (*found)->pathIndex != pathIndex) return nullptr;
  return *found;
}

NodeTable* TreeTable::locateNode() {
  NodeTable* found = findAgreeingNode();
  return found != nullptr ? found : openBranch();
}

NodeTable* TreeTable::searchAgreeingNode() {
  if (maxDepth_ > kCachedLevels) return searchPath(currentPath);
  const uint64_t key = packedPrefix(currentPath.data());
  if (nodeCache_.empty()) nodeCache_.assign(size_t{1} << kNodeCacheBits, CachedNode{0, nullptr, 0});
  NodeTable* found = searchPath(currentPath);
  // A new branch changes the nodes (and perhaps maxDepth_): the next row
  // fills the cache.
  if (found == nullptr) return nullptr;
  nodeCache_[cacheSlot(key)] = CachedNode{key, found, cacheGeneration_};
  return found;
}

NodeTable* TreeTable::openBranch() {
  // A new branch: zero the path from its end until some node agrees, then
  // keep the values up to that position for the new node.
  trialPath_ = currentPath;
  unsigned short position = numCategories;
  unsigned short saved = 0;
  do {
    --position;
    saved = trialPath_[position];
    trialPath_[position] = 0;
  } while (position > 0 && searchPath(trialPath_) == nullptr);
  trialPath_[position] = saved;
  branches.addPath(trialPath_);
  const auto level = static_cast<unsigned short>(numCategories - 1 - position);
  return insertNode(branches.numPaths - 1, level);
}

void TreeTable::writeRow(NodeTable& node, const char* plain) {
  node.reserve(NodeTable::numbersBytes(node.level) + plainLength_);
  node.position =
      writeRowAt(node.position, node.level, currentPath.data(), plain, rowTexts_, rowTextBytes_);
}

char* TreeTable::writeRowAt(char* target, unsigned short level, const unsigned short* path, const char* plain,
                            const char* const* texts, const size_t* textBytes) const {
  copyNumbers(target, path + (numCategories - level), level);
  target += NodeTable::numbersBytes(level);
  if (plainConfig.numColumns == 0) *target = 0;
  for (const FixedCopy& copy : fixedCopies_) {
    text_bytes::copy(target + copy.target, plain + copy.source, copy.width);
  }
  if (!nullCopies_.empty()) writeNullBits(target, plain);
  char* text = target + plainConfig.fixedWidth;
  for (const unsigned short index : plainTexts_) {
    const size_t length = textBytes[index] - 1;
    text_bytes::copy(text, texts[index], length);
    text[length] = '\0';
    text += length + 1;
  }
  return text;
}

void TreeTable::writeNullBits(char* target, const char* plain) const {
  std::memset(target, 0, plainConfig.nullBytes);
  for (const NullCopy& copy : nullCopies_) {
    const bool isNull = (static_cast<unsigned char>(plain[copy.source >> 3]) >> (copy.source & 7) & 1) != 0;
    target[copy.target >> 3] = static_cast<char>(target[copy.target >> 3] | (isNull ? 1 << (copy.target & 7) : 0));
  }
}

void TreeTable::splitTable(unsigned int pathIndex) {
  NodeTable* found = findNode(pathIndex);
  if (found == nullptr) {
    throw DatabaseException("No node with path index %d", static_cast<int>(pathIndex));
  }
  const unsigned short level = found->level;
  if (level == 0) throw DatabaseException("Unable to split table with level 0");
  const auto split = static_cast<unsigned short>(numCategories - level);
  branches.getPath(pathIndex, trialPath_);
  if (trialPath_[split] != 0) {
    throw DatabaseException("Non-zero value identified in the splitting column");
  }
  if (split > 0 && trialPath_[split - 1] == 0) {
    throw DatabaseException("Zero branch value off the splitting column");
  }
  if (found->used() == 0) throw DatabaseException("Unable to split an empty node table");

  clearNodeCache();
  std::unique_ptr<NodeTable> owner;
  retireNode(found, owner);
  const NodeTable* const parent = found;
  const auto childLevel = static_cast<unsigned short>(level - 1);
  const char* row = parent->start();
  const char* const end = parent->position;

  unsigned short value = NodeTable::categoryNumberAt(row);
  trialPath_[split] = value;
  branches.updatePath(pathIndex, trialPath_);
  std::map<unsigned short, NodeTable*> children;
  NodeTable* child = insertNode(pathIndex, childLevel);
  children.emplace(value, child);

  while (row < end) {
    const size_t length = parent->rowLength(row);
    const unsigned short rowValue = NodeTable::categoryNumberAt(row);
    if (rowValue != value) {
      value = rowValue;
      auto entry = children.find(value);
      if (entry == children.end()) {
        trialPath_[split] = value;
        branches.addPath(trialPath_);
        entry = children.emplace(value, insertNode(branches.numPaths - 1, childLevel)).first;
      }
      child = entry->second;
    }
    // The child's path holds the first number: its rows drop it.
    constexpr size_t kDropped = NodeTable::kCategoryNumberWidth;
    child->writeLine(row + kDropped, static_cast<unsigned short>(length - kDropped));
    row += length;
  }
}

void TreeTable::deferRenumbering() {
  // Reserved now, so that completeRenumbering allocates nothing.
  if (numCategories != 0) translation_.resize(kNumbers);
  deferring_ = true;
}

void TreeTable::completeRenumbering() {
  for (unsigned short position = 0; position < numCategories; ++position) {
    if (unordered_[position] != 0) rebalanceColumn(position);
  }
  deferring_ = false;
  std::vector<unsigned short>().swap(translation_);
}

void TreeTable::rebalanceColumn(unsigned int position) {
  if (position >= numCategories) {
    throw DatabaseException("No category level %d in tree table", static_cast<int>(position));
  }
  ColumnMapBase* map = changingMap(static_cast<unsigned short>(position));
  // Numbers no value had stay 0: the journal reads every entry.
  translation_.assign(kNumbers, 0);
  map->renumber(translation_.data());
  translation_[NULL_CATEGORY] = NULL_CATEGORY;
  unordered_[position] = 0;
  if (journal_ != nullptr) journalRenumbering(position, translation_);
  translateLevel(position);
  if (!deferring_) std::vector<unsigned short>().swap(translation_);
}

void TreeTable::translateLevel(unsigned int position) {
  clearNodeCache();
  lastKnown_[position] = 0;
  const std::vector<unsigned short>& renumbered = translation_;
  for (NodeTable* node : nodes) {
    unsigned short* path = branches.mutablePath(node->pathIndex);
    if (path[position] != 0) {
      path[position] = renumbered[path[position]];
      continue;
    }
    renumberRows(*node, position, renumbered);
  }
  // Split nodes kept for a rollback hold rows in the current numbering too.
  if (journal_ != nullptr) {
    for (const LoadJournal::RetiredNode& retired : journal_->retired) {
      renumberRows(*retired.value(), position, renumbered);
    }
  }
  // Provisional numbers need not follow the values' order: the paths may
  // now order differently. Moving the set's nodes allocates nothing.
  std::set<NodeTable*, BranchComparator> ordered(nodes.key_comp());
  while (!nodes.empty()) ordered.insert(nodes.extract(nodes.begin()));
  nodes.swap(ordered);
}

void TreeTable::renumberRows(NodeTable& node, unsigned int position, const std::vector<unsigned short>& renumbered) {
  // Rows hold the numbers of the positions their node's path leaves unset.
  if (position + node.level < numCategories) return;
  const auto slot = static_cast<unsigned short>(position - (numCategories - node.level));
  const auto rewrite = [&renumbered, slot](char* row) {
    char* stored = row + NodeTable::numbersBytes(slot);
    NodeTable::setCategoryNumberAt(stored, renumbered[NodeTable::categoryNumberAt(stored)]);
  };
  if (plainConfig.numStrings == 0) {
    // Rows without texts lie at a fixed stride.
    const size_t stride = NodeTable::numbersBytes(node.level) + plainConfig.fixedWidth;
    for (char* row = node.start(); row < node.position; row += stride) rewrite(row);
  } else {
    for (char* row = node.start(); row < node.position; row += node.rowLength(row)) rewrite(row);
  }
  if (slot == 0) node.forgetSplitScan();
}
