#pragma once

// Helpers for feeding rows to a TreeTable without the CSV reader: rows are
// built from text values in the full plain layout of the table's columns
// and handed over through a NodeIterator, as the loader does.

#include <cstring>
#include <string>
#include <vector>

#include "storage/buffer.h"
#include "storage/column_map.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/string_column_map.h"
#include "storage/table_iterator.h"
#include "storage/templated_class.h"
#include "storage/tree_table.h"

namespace tree_test {

using Row = std::vector<std::string>;

// Builds one row at a time in the layout of all columns plain.
class RowBuilder {
 public:
  explicit RowBuilder(const std::vector<DATA_TYPE>& types) : types_(types) { config_.init(types); }

  NodeIterator& row(const Row& values) {
    buffer_.reset();
    buffer_.reserve(config_.fixedWidth);
    std::memset(buffer_.start(), 0, config_.fixedWidth);
    for (unsigned short column = 0; column < config_.numFixed; ++column) {
      const unsigned short source = config_.columns[column];
      copyStringValueToBuffer(values[source].c_str(), buffer_.start() + config_.offsets[column],
                              types_[source]);
    }
    buffer_.position += config_.fixedWidth;
    for (unsigned short text = 0; text < config_.numStrings; ++text) {
      const std::string& value = values[config_.columns[config_.numFixed + text]];
      buffer_.write(value.c_str(), value.size() + 1);
    }
    rows_.reset(buffer_.start(), buffer_.position, &config_, 0);
    return rows_;
  }

 private:
  std::vector<DATA_TYPE> types_;
  NodeConfig config_;
  Buffer buffer_;
  NodeIterator rows_;
};

inline ColumnMapBase* makeMap(DATA_TYPE type) {
  if (type == STRING) return new StringColumnMap();
  return static_cast<ColumnMapBase*>(createTemplatedClass<ColumnMap>(type));
}

// Configures `table` with maps for the columns of `categoryOrder`.
inline void configure(TreeTable& table, const std::vector<DATA_TYPE>& types,
                      const std::vector<unsigned short>& categoryOrder) {
  for (const unsigned short column : categoryOrder) table.columnMaps[column] = makeMap(types[column]);
  table.init(types, categoryOrder);
}

// Every row of the table as text, in reading order.
inline std::vector<Row> readAll(const TreeTable& table) {
  std::vector<Row> rows;
  TableIterator iterator(&table);
  while (iterator.nextRow()) {
    Row row;
    for (unsigned short column = 0; column < table.numColumns; ++column) {
      row.push_back(iterator.getString(column));
    }
    rows.push_back(row);
  }
  return rows;
}

// The path of a node as a vector.
inline std::vector<unsigned short> pathOf(const TreeTable& table, const NodeTable* node) {
  std::vector<unsigned short> path;
  table.branches.getPath(node->pathIndex, path);
  return path;
}

}  // namespace tree_test
