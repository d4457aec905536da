#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/column_map.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/node_table.h"
#include "storage/string_column_map.h"
#include "storage/templated_class.h"
#include "storage/tree_table.h"

// Builds a TreeTable for tests: `categoryOrder` names the categorised
// columns from the root level down; rows are given as texts per column.
class TestTable {
 public:
  TestTable(std::vector<DATA_TYPE> types, std::vector<unsigned short> categoryOrder)
      : types_(std::move(types)) {
    for (unsigned short column : categoryOrder) {
      ColumnMapBase* map =
          types_[column] == STRING
              ? static_cast<ColumnMapBase*>(new StringColumnMap())
              : static_cast<ColumnMapBase*>(createTemplatedClass<ColumnMap>(types_[column]));
      table.columnMaps[column] = map;
    }
    if (categoryOrder.empty()) {
      table.init(types_);
    } else {
      table.init(types_, categoryOrder);
    }
    rowConfig_.init(types_);
  }

  void addRow(const std::vector<std::string>& values) {
    NodeTable scratch(&rowConfig_, 0, 0);
    for (unsigned short position = 0; position < rowConfig_.numColumns; ++position) {
      const unsigned short column = rowConfig_.columns[position];
      std::unique_ptr<char[]> value(
          static_cast<char*>(stringValueToBuffer(values.at(column).c_str(), types_[column])));
      scratch.writeEntry(value.get(), types_[column]);
    }
    NodeIterator row(scratch.start(), scratch.position, &rowConfig_, 0);
    table.addRow(row);
  }

  TreeTable table;

 private:
  std::vector<DATA_TYPE> types_;
  NodeConfig rowConfig_;
};
