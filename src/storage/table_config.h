#pragma once

#include <map>
#include <set>
#include <vector>

#include "storage/branch_manager.h"
#include "storage/column_map_base.h"
#include "storage/data_type.h"
#include "storage/node_table.h"

// The column configuration, the nodes and the branch paths of a tree table:
// the part of a table that the query engine and the catalogue read. The
// TableConfig releases its own arrays and the path store; the nodes in
// `nodes` and the maps in `columnMaps` are owned and destroyed by the
// TreeTable deriving from it. All fields are filled by TreeTable::init.
class TableConfig {
 public:
  TableConfig();
  virtual ~TableConfig() = default;

  TableConfig(const TableConfig&) = delete;
  TableConfig& operator=(const TableConfig&) = delete;

  // Throws DatabaseException "Column %d is not part of the table" unless
  // `column` numbers one of the table's columns.
  void requireColumn(unsigned short column) const;

  std::vector<DATA_TYPE> columnTypes;                 // column -> type
  std::vector<unsigned char> nullable;                // column -> 1 when it may hold NULL
  std::set<NodeTable*, BranchComparator> nodes;       // live nodes by branch path
  BranchManager branches;                             // one path per live node
  unsigned short numCategories = 0;                   // categorised columns, the tree depth
  unsigned short numColumns = 0;
  std::vector<unsigned short> categoryColumns;        // path position -> column
  std::map<unsigned short, ColumnMapBase*> columnMaps;  // column -> category map
  std::vector<unsigned short> plainColumns;           // plain index -> column
  std::vector<DATA_TYPE> plainTypes;                  // plain index -> type
  std::vector<unsigned char> isPlain;                 // column -> 1 plain, 0 categorised
  std::vector<unsigned short> columnIndex;            // column -> path position or plain index
  std::vector<ColumnMapBase*> levelMaps;              // path position -> map of its column
};
