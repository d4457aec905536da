// A table's life: create, load, rebuild as a tree, drop. A load adds all its
// rows or none, and every change raises the table's change counter.

#include "catalogue/database.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "catalogue/config.h"
#include "catalogue/table_configurator.h"
#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "storage/arrow_stream_reader.h"
#include "storage/csv_reader.h"
#include "storage/full_level_exception.h"
#include "storage/node_iterator.h"
#include "storage/node_table.h"
#include "storage/parallel_csv_reader.h"

namespace {

std::vector<DATA_TYPE> typesOf(const std::vector<ColumnConfig>& columns) {
  std::vector<DATA_TYPE> types;
  types.reserve(columns.size());
  for (const ColumnConfig& column : columns) types.push_back(column.type);
  return types;
}

std::vector<unsigned char> nullableOf(const std::vector<ColumnConfig>& columns) {
  std::vector<unsigned char> nullable;
  nullable.reserve(columns.size());
  for (const ColumnConfig& column : columns) nullable.push_back(column.nullable ? 1 : 0);
  return nullable;
}

std::vector<std::string> namesOf(const std::vector<ColumnConfig>& columns) {
  std::vector<std::string> names;
  names.reserve(columns.size());
  for (const ColumnConfig& column : columns) names.push_back(column.name);
  return names;
}

// A tree with every column plain; it keeps `needsConfiguration` set.
std::unique_ptr<TreeTable> plainTree(const std::vector<DATA_TYPE>& types, const std::vector<unsigned char>& nullable) {
  auto tree = std::make_unique<TreeTable>();
  tree->init(types, {}, nullable);
  return tree;
}

// A tree configured from the rows of `reader`, which stands before its
// first row.
std::unique_ptr<TreeTable> sampledTree(CSVReader& reader, const std::vector<DATA_TYPE>& types,
                                       const std::vector<unsigned char>& nullable) {
  // Without rows to sample every column stays plain until rows arrive.
  if (!reader.nextRow()) return plainTree(types, nullable);
  return std::unique_ptr<TreeTable>(configTreeTableFromDataIterator(&reader, types, nullable));
}

// Releases, when it goes, a stream that no reader took over (a command
// that failed before reading it).
class UnreadStream {
 public:
  explicit UnreadStream(ArrowArrayStream& stream) : stream_(stream) {}
  ~UnreadStream() {
    if (stream_.release != nullptr) stream_.release(&stream_);
  }
  UnreadStream(const UnreadStream&) = delete;
  UnreadStream& operator=(const UnreadStream&) = delete;

 private:
  ArrowArrayStream& stream_;
};

// A tree configured from the rows of an Arrow stream, which stands before
// its first row.
std::unique_ptr<TreeTable> sampledTree(ArrowStreamReader& reader, const std::vector<DATA_TYPE>& types,
                                       const std::vector<unsigned char>& nullable) {
  if (!reader.nextRow()) return plainTree(types, nullable);
  return std::unique_ptr<TreeTable>(configTreeTableFromDataIterator(&reader, types, nullable));
}

// Positions `rows` on the first row of an unconfigured tree, whose rows all
// lie plain in its single root node.
void readRootNode(const TreeTable& tree, NodeIterator& rows) {
  NodeTable& root = **tree.nodes.begin();
  rows.reset(root.start(), root.position, &tree.plainConfig, root.level);
}

// Adds every row from `rows` (positioned on the first) to `tree`, its maps
// renumbered at most once at the end; false when the tree refuses one of
// them.
bool copyRows(NodeIterator& rows, TreeTable& tree) {
  tree.deferRenumbering();
  try {
    do {
      tree.addRow(rows);
    } while (rows.nextRow());
  } catch (const DatabaseException&) {
    return false;
  }
  tree.completeRenumbering();
  return true;
}

// A tree over the columns of `tree` whose levels are those of `tree` but
// the one of `column`, which is plain; its maps are copies, so it takes
// the rows of `tree` without numbering a value. The numbers of `tree` must
// be in order.
std::unique_ptr<TreeTable> treeWithoutLevel(const TreeTable& tree, unsigned short column) {
  auto lowered = std::make_unique<TreeTable>();
  std::vector<unsigned short> order;
  for (unsigned short position = 0; position < tree.numCategories; ++position) {
    const unsigned short kept = tree.categoryColumns[position];
    if (kept == column) continue;
    std::unique_ptr<ColumnMapBase> map = tree.levelMaps[position]->clone();
    lowered->columnMaps.emplace(kept, map.get());
    map.release();
    order.push_back(kept);
  }
  lowered->init(tree.columnTypes, std::move(order), tree.nullable);
  return lowered;
}

// Adds every row of `source`, in the order it reads them, to `target`,
// which has the same column types and nullable columns.
void copyTable(const TreeTable& source, TreeTable& target) {
  NodeConfig layout;
  layout.init(source.columnTypes, source.nullable);
  std::vector<char> fixed(size_t{layout.fixedWidth} + 1);
  std::vector<const char*> texts(layout.numStrings);
  std::vector<size_t> textBytes(layout.numStrings);
  NodeIterator row;
  row.reset(fixed.data(), fixed.data() + fixed.size(), &layout, 0);
  TableIterator rows(&source);
  for (unsigned count = 1; rows.nextRow(); ++count) {
    if (count % kRowsPerInterruptCheck == 0) checkInterrupt();
    std::memset(fixed.data(), 0, layout.nullBytes);
    for (unsigned short position = 0; position < layout.numFixed; ++position) {
      const unsigned short column = layout.columns[position];
      const void* const value = rows.getPointer(column);
      char* const slot = fixed.data() + layout.offsets[position];
      const unsigned short width = getTypeWidth(source.columnTypes[column]);
      if (value == nullptr) {
        layout.setNull(fixed.data(), column);
        std::memset(slot, 0, width);
      } else {
        std::memcpy(slot, value, width);
      }
    }
    for (unsigned short text = 0; text < layout.numStrings; ++text) {
      const unsigned short column = layout.columns[layout.numFixed + text];
      const char* const value = static_cast<const char*>(rows.getPointer(column));
      if (value == nullptr) layout.setNull(fixed.data(), column);
      texts[text] = value == nullptr ? "" : value;
      textBytes[text] = std::strlen(texts[text]) + 1;
    }
    target.addRow(row, texts.data(), textBytes.data());
  }
}

}  // namespace

Database::Database() { readConfiguration(CONFIG_FILE_NAME); }

void Database::requireNewTable(const std::string& tableName, const std::vector<ColumnConfig>& columns,
                               const char* existsMessage) const {
  if (tableName.empty()) throw DatabaseException("Table name is empty");
  if (tableNumbers.count(tableName) != 0) throw DatabaseException(existsMessage, tableName.c_str());
  if (columns.empty()) throw DatabaseException("Table %s has no columns", tableName.c_str());
  // A column name given twice could never be selected: every lookup by name
  // would find two columns.
  std::set<std::string> names;
  for (const ColumnConfig& column : columns) {
    if (!names.insert(column.name).second) {
      throw DatabaseException("Column %s is defined twice in table %s", column.name.c_str(), tableName.c_str());
    }
  }
}

void Database::addStoredTable(const std::string& tableName, const std::vector<ColumnConfig>& columns,
                              std::unique_ptr<TreeTable> tree) {
  StoredTable table{std::move(tree), std::make_shared<uint64_t>(0), 0};
  // Room for the push_back below, which then cannot fail once the schema
  // has the table; grown geometrically, so that defining n tables moves
  // each stored table a constant number of times on average.
  if (trees.size() == trees.capacity()) trees.reserve(2 * trees.size() + 1);
  addTable(tableName, columns);
  trees.push_back(std::move(table));
}

void Database::configTable(std::string tableName, const std::string& fileName,
                           const std::vector<ColumnConfig>& columns, char separator) {
  requireNewTable(tableName, columns, "Table %s already exists");
  const std::vector<DATA_TYPE> types = typesOf(columns);
  const std::vector<unsigned char> nullable = nullableOf(columns);
  // Sampling converts only the columns still in question; with threads to
  // spare a second thread reads the second half of the file itself.
  std::unique_ptr<TreeTable> tree = classifyFailures(ErrorKind::kLoad, [&] {
    CSVReader reader;
    reader.init(fileName, types, separator, nullable);
    reader.setColumnNames(namesOf(columns));
    return sampledTree(reader, types, nullable);
  });
  addStoredTable(tableName, columns, std::move(tree));
}

void Database::configTableFromStream(std::string tableName, ArrowArrayStream& stream,
                                     const std::vector<ColumnConfig>& columns) {
  const UnreadStream unread(stream);
  requireNewTable(tableName, columns, "Table %s already exists");
  const std::vector<DATA_TYPE> types = typesOf(columns);
  const std::vector<unsigned char> nullable = nullableOf(columns);
  ArrowStreamReader reader(stream, types, nullable, namesOf(columns));
  addStoredTable(tableName, columns, sampledTree(reader, types, nullable));
}

void Database::tableInit(const std::string& tableName, const std::vector<ColumnConfig>& columns) {
  requireNewTable(tableName, columns, "Table is already defined - unable to initialize %s");
  const std::vector<DATA_TYPE> types = typesOf(columns);
  const std::vector<unsigned char> nullable = nullableOf(columns);
  std::map<unsigned short, unsigned short> columnByCategory;
  for (size_t column = 0; column < columns.size(); ++column) {
    const unsigned short category = columns[column].category;
    if (category == NO_CATEGORY) continue;
    if (!columnByCategory.emplace(category, static_cast<unsigned short>(column)).second) {
      throw DatabaseException("Multiple columns mapped to the same category %d", category);
    }
  }
  if (columnByCategory.empty()) {
    addStoredTable(tableName, columns, plainTree(types, nullable));
    return;
  }
  auto tree = std::make_unique<TreeTable>();
  std::vector<unsigned short> order;
  for (const auto& [category, column] : columnByCategory) {
    order.push_back(column);
    std::unique_ptr<ColumnMapBase> map(createColumnMap(types[column]));
    tree->columnMaps.emplace(column, map.get());
    map.release();
  }
  tree->init(types, std::move(order), nullable);
  tree->needsConfiguration = false;
  addStoredTable(tableName, columns, std::move(tree));
  trees.back().namedLevels = true;
}

bool Database::needsRebuild(const StoredTable& table) {
  const TreeTable& tree = *table.tree;
  return tree.needsConfiguration && tree.numRows > CONFIG_LINES_THRESHOLD &&
         tree.numRows >= table.rebuildAt;
}

void Database::loadFile(const std::string& tableName, const std::string& fileName, char separator) {
  const unsigned short number = getTableNumber(tableName);
  classifyFailures(ErrorKind::kLoad, [&] { loadRows(trees[number], number, fileName, separator); });
}

std::vector<std::string> Database::columnNames(unsigned short number) const {
  std::vector<std::string> names;
  for (unsigned short column = 0; column < trees[number].tree->numColumns; ++column) {
    names.push_back(getColName(number, column));
  }
  return names;
}

void Database::loadRows(StoredTable& table, unsigned short number, const std::string& fileName, char separator) {
  std::vector<std::string> names = columnNames(number);
  // Opened before the load begins, so that a file that cannot be read
  // leaves the table untouched.
  if (CONFIG_THREADS > 1) {
    ParallelCSVReader parallel(fileName, table.tree->columnTypes, separator, table.tree->nullable, names,
                               CONFIG_THREADS - 1U);
    loadAll(table, parallel);
    return;
  }
  CSVReader reader;
  reader.init(fileName, table.tree->columnTypes, separator, table.tree->nullable);
  reader.setColumnNames(std::move(names));
  loadAll(table, reader);
}

void Database::loadStream(const std::string& tableName, ArrowArrayStream& stream) {
  const UnreadStream unread(stream);
  const unsigned short number = getTableNumber(tableName);
  StoredTable& table = trees[number];
  ArrowStreamReader reader(stream, table.tree->columnTypes, table.tree->nullable, columnNames(number),
                           CONFIG_THREADS > 1);
  loadAll(table, reader);
}

template <class Reader>
void Database::loadAll(StoredTable& table, Reader& reader) {
  const uint64_t changes = *table.changes;
  const uint64_t rebuildAt = table.rebuildAt;
  const unsigned int rows = table.tree->numRows;
  std::unique_ptr<TreeTable> replaced;
  // Results of the table count as changed from the start: a stream being
  // read may be one of them, and must not read the table while it takes rows.
  ++*table.changes;
  table.tree->beginLoad();
  try {
    appendRows(table, reader, replaced);
  } catch (...) {
    // The table as it was: the tree a rebuild replaced comes back, and
    // results read before the load stay valid.
    if (replaced != nullptr) table.tree = std::move(replaced);
    table.tree->rollbackLoad();
    *table.changes = changes;
    table.rebuildAt = rebuildAt;
    throw;
  }
  table.tree->commitLoad();
  // A load that added nothing changed nothing.
  if (replaced == nullptr && table.tree->numRows == rows) *table.changes = changes;
}

template <class Reader>
void Database::appendRows(StoredTable& table, Reader& reader, std::unique_ptr<TreeTable>& replaced) {
  // The rows' texts go from the reader straight into the table.
  const auto texts = static_cast<size_t>(
      std::count(table.tree->columnTypes.begin(), table.tree->columnTypes.end(), STRING));
  std::vector<const char*> rowTexts(texts);
  std::vector<size_t> rowTextBytes(texts);
  for (unsigned rows = 1; reader.nextRow(); ++rows) {
    if (rows % kRowsPerInterruptCheck == 0) checkInterrupt();
    if (needsRebuild(table)) {
      std::unique_ptr<TreeTable> rebuilt = rebuiltAsTree(table);
      if (rebuilt != nullptr) replaceDuringLoad(table, std::move(rebuilt), replaced);
    }
    if constexpr (std::is_same_v<Reader, ArrowStreamReader>) {
      // The stream's rows go a block at a time while they change nothing
      // but the rows of live nodes; the current row is then the last added.
      const uint32_t added = addBlock(table, reader, rows);
      if (added != 0) {
        reader.skipRows(added - 1);
        rows += added - 1;
        continue;
      }
    }
    NodeIterator& row = reader.getFixedView();
    reader.getTexts(rowTexts.data(), rowTextBytes.data());
    try {
      addLoadedRow(table, row, rowTexts.data(), rowTextBytes.data(), replaced);
    } catch (const DatabaseException& e) {
      throw DatabaseException("%s%s", e.what(), reader.where().c_str());
    }
  }
}

uint32_t Database::addBlock(StoredTable& table, ArrowStreamReader& reader, unsigned row) {
  RowBlock block = reader.restOfBlock();
  // The block ends before the next row that checks for an interrupt, and
  // before the row at which the table would be rebuilt.
  const unsigned nextCheck = (row / kRowsPerInterruptCheck + 1) * kRowsPerInterruptCheck;
  uint64_t limit = nextCheck - row;
  const TreeTable& tree = *table.tree;
  if (tree.needsConfiguration) {
    // The most rows the table may hold before a row without the rebuild.
    const uint64_t mostRows = std::max<uint64_t>(CONFIG_LINES_THRESHOLD, table.rebuildAt == 0 ? 0 : table.rebuildAt - 1);
    limit = std::min<uint64_t>(limit, mostRows >= tree.numRows ? mostRows - tree.numRows + 1 : 1);
  }
  block.rows = static_cast<uint32_t>(std::min<uint64_t>(block.rows, limit));
  try {
    return table.tree->addBlock(block);
  } catch (const DatabaseException& e) {
    throw DatabaseException("%s%s", e.what(), reader.where().c_str());
  }
}

void Database::addLoadedRow(StoredTable& table, NodeIterator& row, const char* const* texts,
                            const size_t* textBytes, std::unique_ptr<TreeTable>& replaced) {
  // Each attempt that fails drops a level, so the attempts end.
  for (;;) {
    unsigned short fullColumn = 0;
    try {
      table.tree->addRow(row, texts, textBytes);
      return;
    } catch (const FullLevelException& full) {
      if (table.namedLevels) throw;
      fullColumn = full.column;
    }
    dropLevel(table, fullColumn, replaced);
  }
}

void Database::dropLevel(StoredTable& table, unsigned short column, std::unique_ptr<TreeTable>& replaced) {
  TreeTable& old = *table.tree;
  // The old tree is read in its order, which holds once its numbers are.
  old.completeRenumbering();
  std::unique_ptr<TreeTable> lowered = treeWithoutLevel(old, column);
  lowered->deferRenumbering();
  copyTable(old, *lowered);
  // Without levels left the table waits, as after a rebuild that found
  // none, before it samples its rows again.
  if (lowered->needsConfiguration) table.rebuildAt = uint64_t{lowered->numRows} * 2;
  replaceDuringLoad(table, std::move(lowered), replaced);
}

void Database::replaceDuringLoad(StoredTable& table, std::unique_ptr<TreeTable> tree,
                                 std::unique_ptr<TreeTable>& replaced) {
  std::swap(table.tree, tree);
  ++*table.changes;
  // Like the tree the load began with, the new one renumbers its levels
  // once, when the load ends.
  table.tree->deferRenumbering();
  if (replaced == nullptr) replaced = std::move(tree);
}

void Database::constructTreeTable(const std::string& tableName) {
  StoredTable& table = trees[getTableNumber(tableName)];
  std::unique_ptr<TreeTable> rebuilt = rebuiltAsTree(table);
  if (rebuilt == nullptr) return;
  table.tree = std::move(rebuilt);
  ++*table.changes;
}

std::unique_ptr<TreeTable> Database::rebuiltAsTree(StoredTable& table) {
  const TreeTable& old = *table.tree;
  if (!old.needsConfiguration || old.numRows == 0) return nullptr;

  NodeIterator rows;
  readRootNode(old, rows);
  std::unique_ptr<TreeTable> rebuilt(configTreeTableFromDataIterator(&rows, old.columnTypes, old.nullable));
  if (rebuilt->needsConfiguration) {
    // No column qualified: the rebuilt tree would hold the same plain rows
    // in the same order, so the old one stays and no row is copied. Wait
    // for twice the rows before trying again.
    table.rebuildAt = uint64_t{old.numRows} * 2;
    return nullptr;
  }
  readRootNode(old, rows);
  if (!copyRows(rows, *rebuilt)) {
    // A row does not fit the tree's layout (its category numbers would
    // make it too long, say): the table stays plain, as when no column
    // qualifies, so that later loads still work.
    table.rebuildAt = uint64_t{old.numRows} * 2;
    return nullptr;
  }
  return rebuilt;
}

void Database::deleteTable(const std::string& tableName) {
  const unsigned short number = getTableNumber(tableName);
  ++*trees[number].changes;
  trees.erase(trees.begin() + number);
  removeTable(tableName);
}

void Database::close() {
  if (isClosed()) return;
  // Last to first, so that no table moves down a number as the others go.
  while (getNumberOfTables() > 0) {
    const std::string name = getTableName(static_cast<unsigned short>(getNumberOfTables() - 1));
    deleteTable(name);
  }
  closed_.store(true, std::memory_order_release);
}

void Database::requireOpen() const {
  if (isClosed()) throw DatabaseException("Database is closed");
}

const Database::StoredTable& Database::stored(unsigned short table) const {
  if (table >= trees.size()) throw DatabaseException("Table number %d is not defined", table);
  return trees[table];
}

TreeTable& Database::getTreeTable(unsigned short table) const { return *stored(table).tree; }

std::shared_ptr<const uint64_t> Database::getTableChanges(unsigned short table) const {
  return stored(table).changes;
}

TableConfig& Database::getTableConfig(const std::string& tableName) {
  return getTreeTable(getTableNumber(tableName));
}

TableIterator Database::getTableIterator(const std::string& tableName) const {
  return TableIterator(&getTreeTable(getTableNumber(tableName)));
}

void Database::writeTable(const std::string& tableName, const std::string& fileName) const {
  getTreeTable(getTableNumber(tableName)).writeTable(fileName);
}
