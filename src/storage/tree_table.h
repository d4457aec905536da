#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "storage/branch_manager.h"
#include "storage/column_map_base.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/node_table.h"
#include "storage/row_block.h"
#include "storage/table_config.h"

class StringColumnMap;

// The in-memory form of one table. Categorised columns are replaced by the
// category numbers of their maps and group the rows into a tree of node
// tables, one level per categorised column; the other columns are stored
// plain in the node rows. The tree owns its nodes and its category maps:
// the loader fills `columnMaps` with maps allocated by new before calling
// init, and the tree deletes them. A tree must not take rows while an
// iterator reads it (a split destroys nodes).
class TreeTable : public TableConfig {
 public:
  // Largest stored row in bytes; a split copies rows with a 16-bit length.
  static constexpr size_t kMaxRowBytes = 65535;

  TreeTable();
  ~TreeTable() override;

  // Configures the tree for the column types with the categorised columns
  // in `categoryOrder` (path position -> column); `columnMaps` must hold a
  // map for exactly those columns. `nullable` (column -> 1 when the column
  // may hold NULL) is empty, for none, or has an entry per column. Creates
  // the root node; a tree configured before loses its rows. Throws
  // "Inconsistent number of categories in tree table" when the order and
  // the maps disagree; nothing changes then.
  void init(const std::vector<DATA_TYPE>& types, std::vector<unsigned short> categoryOrder,
            const std::vector<unsigned char>& nullable = {});
  // The same with every column plain; `columnMaps` must be empty.
  void init(const std::vector<DATA_TYPE>& types);

  // Adds the iterator's current row, which must be laid out over all
  // columns of the table as plain columns (the layout of a NodeConfig built
  // from the table's column types and nullable flags; a NULL's value bytes
  // zero, its text empty). A NULL in a categorised column takes
  // NULL_CATEGORY as its number. A failing row is not stored; values it
  // already entered into category maps stay there. A value that its level's
  // map can number no more fails with FullLevelException naming the column.
  void addRow(NodeIterator& row);
  // The same for a row whose texts lie elsewhere: `row` gives the
  // fixed-width values (its texts are not read), and the i-th text of the
  // row, in column order, is the textBytes[i] - 1 bytes at texts[i] (its
  // length + 1), which need not be followed by a NUL and must hold none.
  // Spares a reader copying its texts into the row, or terminating them.
  void addRow(NodeIterator& row, const char* const* texts, const size_t* textBytes);
  // Adds the block's first rows, up to kBlockRows, as addRow would one at
  // a time, as far as they change nothing but the rows of live nodes: it
  // stops before the first row that holds a value new to its level's map,
  // is too long to store, agrees with no live node, or whose node would
  // be considered for a split; a node's buffer grows as addRow would grow
  // it. Returns the rows added; 0 when the first row needs addRow. Every
  // node receives its rows in block order, and the tree ends as one addRow
  // per row leaves it.
  uint32_t addBlock(const RowBlock& block);

  // Most rows addBlock takes at once.
  static constexpr uint32_t kBlockRows = 1024;

  // A load as one change: after beginLoad the tree records what addRow
  // alters (nodes split, paths and numbers rewritten, maps extended), so
  // that rollbackLoad can put back exactly the rows, row order, nodes, paths
  // and category maps it had at beginLoad, in the same objects, so that
  // results read from them before the load stay readable. commitLoad keeps
  // the changes and frees the record. Only rows may be added in between.
  // A tree destroyed during a load ends it as by commitLoad. A load defers
  // renumbering (below): commitLoad completes it, rollbackLoad drops it.
  void beginLoad();
  void commitLoad();
  void rollbackLoad() noexcept;

  // A new value that finds no room at its place in its map's order takes
  // any free number, and the map is renumbered evenly: every path and stored
  // row holding its numbers is rewritten. By default addRow does so at
  // once; between deferRenumbering() and completeRenumbering() it
  // waits, and rows keep the provisional numbers, so that each map is
  // renumbered and its rows rewritten at most once per load. The table must
  // not be read while renumbering is deferred.
  void deferRenumbering();
  void completeRenumbering();

  // Splits the node with the given path index on its next level into one
  // child per distinct category number; step of addRow.
  void splitTable(unsigned int pathIndex);
  // Renumbers the map of path position `position` evenly and rewrites every
  // path and stored row holding its numbers.
  void rebalanceColumn(unsigned int position);

  // Writes every row as a CSV line (no header) in reading order, each
  // value as appendCsvField writes it, a NULL as an empty field. Throws "Unable to write
  // file %s" when the file cannot be opened or written.
  void writeTable(std::string path) const;
  // Checks node levels against their paths, every stored category number
  // against its map (NULL_CATEGORY only in a nullable column) and that
  // every plain NULL holds zero bytes or the empty text; throws at the
  // first fault.
  void validateTree() const;
  // One line of node and buffer figures (see tree_table_output.cpp).
  std::string getStatistics() const;

  // The live node with the given path index, nullptr if there is none.
  NodeTable* findNode(unsigned int pathIndex) const;

  unsigned int numRows = 0;                 // rows added
  NodeConfig plainConfig;                   // layout of the plain part of node rows
  std::vector<unsigned short> currentPath;  // path of the row being added
  bool needsConfiguration = true;           // no categorised column configured yet

 private:
  // One memcpy of the plain fixed part: bytes at `source` in the incoming
  // row go to `target` in the stored plain part.
  struct FixedCopy {
    unsigned short source;
    unsigned short target;
    unsigned short width;
  };
  // One null flag of a plain nullable column: its bit in the incoming
  // row's bitmap and in the stored plain part's.
  struct NullCopy {
    unsigned short source;
    unsigned short target;
  };
  // Where the value of a categorised column lies in the incoming row.
  struct LevelSource {
    bool isText;
    unsigned short place;   // byte offset, or index among the row's texts
    unsigned short width;   // stored width of a fixed-width value
    unsigned short nullBit; // its bit in the incoming null bitmap, or NodeConfig::kNoNullBit
    StringColumnMap* texts; // the level's map when it is a text map, for lookups by known length
  };

  // What a load has changed, recorded from beginLoad to its end.
  struct LoadJournal {
    using RetiredNode = std::set<NodeTable*, BranchComparator>::node_type;
    // A node as it was at beginLoad.
    struct NodeState {
      NodeTable* node;
      size_t used;
      unsigned short splitAttempts;
    };

    ~LoadJournal();
    bool knows(const NodeTable* node) const;

    unsigned int numRows = 0;
    unsigned short maxDepth = 0;
    unsigned int numPaths = 0;
    std::vector<unsigned short> paths;  // every path value at beginLoad
    std::vector<NodeState> nodes;       // sorted by node address
    // Nodes split during the load, out of `nodes` but kept whole; owned.
    std::vector<RetiredNode> retired;
    // Column -> its map at beginLoad, kept unchanged while the tree works
    // on a copy made before the first change.
    std::map<unsigned short, std::unique_ptr<ColumnMapBase>> originalMaps;
    // Path position -> number now -> number at beginLoad; empty for a
    // position whose numbers were never rewritten.
    std::vector<std::vector<unsigned short>> originalNumbers;
    // The row layout found to fit: a load's rows come from one reader,
    // whose layout stays as it is while it reads.
    const NodeConfig* checkedLayout = nullptr;
  };

  void destroyNodes();
  // Whether a row may hold `number` at path position `position`.
  bool holdsNumber(unsigned short position, unsigned short number) const;
  // Throws unless every NULL of the plain part `plain` is zero or empty.
  void validateNulls(const char* plain) const;
  void prepareCopyPlan();
  // The null flags' part of the copy plan: a byte copy of the bitmap when
  // the incoming and stored bitmaps agree, else nullCopies_.
  void prepareNullCopies();
  // Writes the stored null bitmap at `target` from the incoming row `plain`.
  void writeNullBits(char* target, const char* plain) const;
  // The map of path position `position`, ready to change: during a load, a
  // copy replaces the map at its first change.
  ColumnMapBase* changingMap(unsigned short position);
  // Installs `map` as the map of column `column` wherever the tree keeps it.
  void installMap(unsigned short column, ColumnMapBase* map);
  // Takes a split node out of `nodes`: into the journal during a load,
  // else destroyed when `owner` goes.
  void retireNode(NodeTable* node, std::unique_ptr<NodeTable>& owner);
  // Rewrites the numbers of path position `position` in the rows of `node`
  // through `renumbered` (old number -> new); paths are not touched.
  void renumberRows(NodeTable& node, unsigned int position, const std::vector<unsigned short>& renumbered);
  // Records a rewrite of position `position`'s numbers in the journal.
  void journalRenumbering(unsigned int position, const std::vector<unsigned short>& renumbered);
  // Checks that rows in the layout `config` fit the table; during a load,
  // once per layout.
  void requireRowLayout(const NodeConfig* config) {
    if (journal_ != nullptr && config == journal_->checkedLayout && config != nullptr) return;
    checkRowLayout(config);
  }
  // requireRowLayout for a layout not yet found to fit.
  void checkRowLayout(const NodeConfig* config);
  // Measures the incoming row, remembers where its texts lie in
  // scannedTexts_ and scannedTextBytes_ and checks the row length limit;
  // returns the stored plain length.
  size_t scanRow(const NodeIterator& row);
  // The stored plain length of a row with the texts at rowTexts_ and
  // rowTextBytes_; checks the row length limit.
  size_t plainLengthOfTexts() const {
    size_t length = plainConfig.fixedWidth;
    for (const unsigned short index : plainTexts_) length += rowTextBytes_[index];
    if (length + NodeTable::numbersBytes(numCategories) > kMaxRowBytes) refuseRowLength(length);
    return length;
  }
  // Throws the row length limit's message for a plain part of `length` bytes.
  [[noreturn]] void refuseRowLength(size_t length) const;
  // addRow once the row's texts are known: `plain` is the incoming row.
  void addScannedRow(const char* plain);
  // Sets the number of path position `position` in currentPath; a number
  // that differs forgets the last row's node.
  void setPathNumber(unsigned short position, unsigned short number) {
    if (currentPath[position] == number) return;
    currentPath[position] = number;
    lastNode_ = nullptr;
  }
  // The number of the row's value at path position `position`, numbering
  // a new value; throws FullLevelException naming the column when the
  // level's map has no number left for it.
  unsigned short categoryNumber(unsigned short position, void* value);
  // Gives a value that `map` (the level's map) does not hold a number.
  void numberNewValue(unsigned short position, ColumnMapBase& map, void* value);
  NodeTable* locateNode();
  // The live node agreeing with currentPath, nullptr if none; a hit in the
  // node cache without a call.
  NodeTable* findAgreeingNode() {
    if (maxDepth_ <= kCachedLevels && !nodeCache_.empty()) {
      const uint64_t key = packedPrefix(currentPath.data());
      const CachedNode& slot = nodeCache_[cacheSlot(key)];
      if (slot.path == key && slot.generation == cacheGeneration_) return slot.node;
    }
    return searchAgreeingNode();
  }
  // findAgreeingNode on a miss of the cache: searches the tree and fills
  // the cache's slot.
  NodeTable* searchAgreeingNode();
  // Opens a node for a row whose path agrees with no live node.
  NodeTable* openBranch();
  NodeTable* searchPath(const std::vector<unsigned short>& path);
  NodeTable* insertNode(unsigned int pathIndex, unsigned short level);
  void writeRow(NodeTable& node, const char* plain);
  // Writes a row at `target` for a node at `level`: the numbers of the
  // last `level` positions of `path`, then the plain part of the incoming
  // row `plain` with its texts. Returns the end of the written row.
  char* writeRowAt(char* target, unsigned short level, const unsigned short* path, const char* plain,
                   const char* const* texts, const size_t* textBytes) const;
  // Steps of addBlock; each answers how many of the block's first `rows`
  // rows may go on to the next. Numbers the rows' values by lookups only.
  uint32_t numberBlock(const RowBlock& block, uint32_t rows);
  uint32_t numberBlockLevel(const RowBlock& block, unsigned short position, uint32_t rows);
  // Measures the rows' stored plain parts.
  uint32_t measureBlock(const RowBlock& block, uint32_t rows);
  // Finds each row's node and reserves its bytes there.
  uint32_t placeBlock(uint32_t rows);
  // The block target of `node`, made on its first row.
  uint32_t blockTargetOf(NodeTable* node);
  // The block target of the node agreeing with `path`, whose first
  // maxDepth_ positions pack into `prefix` (at most kCachedLevels of them),
  // or kNoTarget when no live node agrees; pathIndex_ remembers it for the
  // block's other rows of the same prefix.
  uint32_t blockTargetOfPath(const unsigned short* path, uint64_t prefix);
  // The first maxDepth_ positions of `path`, 16 bits each; maxDepth_ must
  // be at most kCachedLevels.
  uint64_t packedPrefix(const unsigned short* path) const {
    uint64_t key = 0;
    for (unsigned short position = 0; position < maxDepth_; ++position) key = key << 16 | path[position];
    return key;
  }
  // The same through findAgreeingNode (which takes currentPath).
  uint32_t blockTargetOfCurrentPath(const unsigned short* path);
  static constexpr uint32_t kNoTarget = UINT32_MAX;
  // Empties blockTargets_ and the indexes over it.
  void forgetBlockTargets();
  // Writes the placed rows node by node, each node's in block order.
  void writeBlock(const RowBlock& block, uint32_t rows);
  // Rewrites the numbers of path position `position` in paths and rows by
  // translation_, then orders `nodes` by their new paths.
  void translateLevel(unsigned int position);

  mutable NodeTable searchKey_;               // never holds rows; pathIndex set per search
  NodeConfig rowConfig_;                      // layout of incoming rows (all columns plain)
  std::vector<FixedCopy> fixedCopies_;
  std::vector<NullCopy> nullCopies_;          // empty when the bitmap is a fixed copy
  std::vector<LevelSource> levelSources_;
  std::vector<unsigned short> plainTexts_;    // incoming indexes of the texts stored plain, in order
  std::vector<const char*> scannedTexts_;     // texts of a row read by scanRow
  std::vector<size_t> scannedTextBytes_;      // their lengths + 1
  // The current row's texts by incoming text index, and their lengths + 1:
  // the scanned ones or the caller's arrays, valid while the row is added.
  const char* const* rowTexts_ = nullptr;
  const size_t* rowTextBytes_ = nullptr;
  size_t plainLength_ = 0;                    // stored plain length of the row
  std::string newText_;                       // a new text value, terminated for its map
  std::vector<unsigned short> trialPath_;     // scratch for locateNode and splitTable
  bool deferring_ = false;                    // renumbering waits for completeRenumbering
  std::vector<unsigned char> unordered_;      // per path position: map numbered out of order
  std::vector<unsigned short> translation_;   // old -> new number of the last renumbering
  // Per path position of a fixed-width column: the bits of the last value
  // numbered (its number is in currentPath), valid where lastKnown_ is 1.
  std::vector<uint64_t> lastValue_;
  std::vector<unsigned char> lastKnown_;

  // Scratch of addBlock. By block row: its path (numCategories values),
  // stored plain length and target; by target: its node, the bytes and
  // rows the block gives it. targetIndex_ finds a node's target by open
  // addressing on the node's address, pathIndex_ by the packed first
  // maxDepth_ path positions (target + 1; 0 marks a free slot); both are
  // emptied before every block, pathIndex_ through pathSlotsTaken_.
  struct BlockTarget {
    NodeTable* node;
    size_t bytes;
    uint32_t rows;
  };
  std::vector<unsigned short> blockPaths_;
  std::vector<size_t> blockLengths_;
  std::vector<uint32_t> blockTargetOfRow_;
  std::vector<uint32_t> blockOrder_;  // rows grouped by target, in block order within one
  std::vector<BlockTarget> blockTargets_;
  std::vector<std::pair<const NodeTable*, uint32_t>> targetIndex_;
  std::vector<std::pair<uint64_t, uint32_t>> pathIndex_;
  std::vector<size_t> pathSlotsTaken_;

  // The node that took the rows of a path is remembered in a direct-mapped
  // table indexed by a hash of the path's first maxDepth_ positions: no live
  // node fixes more positions than those, so paths that agree on them agree
  // with the same nodes. A hit saves the ordered search of `nodes`. Only
  // used while maxDepth_ is at most four (the key packs 16 bits per
  // position). Emptied whenever a node appears or goes or paths are
  // renumbered (by starting a new generation), so it never names a node
  // that does not agree.
  struct CachedNode {
    uint64_t path;
    NodeTable* node;
    uint64_t generation;  // valid only while equal to cacheGeneration_
  };
  static constexpr unsigned short kCachedLevels = 4;
  static constexpr unsigned kNodeCacheBits = 12;
  // The cache slot of a packed path prefix.
  static size_t cacheSlot(uint64_t path) {
    return static_cast<size_t>((path * 0x9E3779B97F4A7C15ULL) >> (64 - kNodeCacheBits));
  }
  void clearNodeCache();
  std::vector<CachedNode> nodeCache_;
  uint64_t cacheGeneration_ = 1;
  // The node that took the last row, whose path currentPath still holds
  // while it is set; valid only while lastNodeGeneration_ equals
  // cacheGeneration_. Rows of one node in a run skip the search.
  NodeTable* lastNode_ = nullptr;
  uint64_t lastNodeGeneration_ = 0;
  unsigned short maxDepth_ = 0;  // most path positions any live node fixes
  std::unique_ptr<LoadJournal> journal_;  // set during a load
};
