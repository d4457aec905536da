#pragma once

// Helpers shared by the C++ tests: the message of a refused call, the
// process-wide thresholds put back, a scratch directory removed with the
// test, and tree tables fed with rows given as texts (built in the
// all-plain layout and handed over through a NodeIterator, as the loader
// does) and read back as texts.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "catalogue/config.h"
#include "errors/database_exception.h"
#include "storage/buffer.h"
#include "storage/column_map.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/string_column_map.h"
#include "storage/table_iterator.h"
#include "storage/templated_class.h"
#include "storage/tree_table.h"

namespace test_support {

using Row = std::vector<std::string>;

// Every number of `map` points at the value numbered so, and every number
// it has not assigned at nothing, whatever state the map is in.
inline void expectPointersPinned(ColumnMapBase& map) {
  uint64_t assigned = 0;
  for (unsigned number = 0; number < 65536; ++number) {
    void* const value = map.getValuePointer(static_cast<unsigned short>(number));
    if (!map.containsInt(static_cast<unsigned short>(number))) {
      ASSERT_EQ(value, nullptr) << number;
      continue;
    }
    ASSERT_NE(value, nullptr) << number;
    ASSERT_EQ(map.getInt(value), number) << "the pointer of " << number;
    ++assigned;
  }
  EXPECT_EQ(assigned, map.getSize());
}

// The numbers 0 to count - 1 in an order a load may bring them: "sorted",
// "reverse", "random" (a fixed shuffle) or "gap", from both ends inwards, so
// that each value falls into the one gap left between the two before it.
inline std::vector<int> arrivalOrder(const std::string& order, int count) {
  std::vector<int> values(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) values[i] = i;
  if (order == "reverse") std::reverse(values.begin(), values.end());
  if (order == "random") std::shuffle(values.begin(), values.end(), std::mt19937(20240611));
  if (order == "gap") {
    for (int i = 0; i < count; ++i) values[i] = i % 2 == 0 ? i / 2 : count - 1 - i / 2;
  }
  return values;
}

// The message of the DatabaseException `action` throws, or "no exception".
inline std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DatabaseException& e) {
    return e.what();
  }
  return "no exception";
}

// Restores the process-wide thresholds and thread count when the test ends.
class ThresholdGuard {
 public:
  ThresholdGuard()
      : lines_(CONFIG_LINES_THRESHOLD), categories_(CONFIG_CATEGORY_THRESHOLD), threads_(CONFIG_THREADS) {}
  ~ThresholdGuard() {
    CONFIG_LINES_THRESHOLD = lines_;
    CONFIG_CATEGORY_THRESHOLD = categories_;
    CONFIG_THREADS = threads_;
  }
  ThresholdGuard(const ThresholdGuard&) = delete;
  ThresholdGuard& operator=(const ThresholdGuard&) = delete;

 private:
  uint32_t lines_;
  uint16_t categories_;
  uint16_t threads_;
};

// A fresh directory for the running test, removed when the object goes.
class ScratchDir {
 public:
  ScratchDir()
      : path_(std::filesystem::temp_directory_path() /
              ("tabulon_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return (path_ / name).string(); }
  std::string str() const { return path_.string(); }

  // Writes `text` to the file `name`; returns its path.
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }

 private:
  std::filesystem::path path_;
};

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
      copyStringValueToBuffer(values.at(source).c_str(), buffer_.start() + config_.offsets[column],
                              types_[source]);
    }
    buffer_.position += config_.fixedWidth;
    for (unsigned short text = 0; text < config_.numStrings; ++text) {
      const std::string& value = values.at(config_.columns[config_.numFixed + text]);
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

// Configures `table` with maps for the columns of `categoryOrder` (root
// level first); without categories the table stays unconfigured.
inline void configure(TreeTable& table, const std::vector<DATA_TYPE>& types,
                      const std::vector<unsigned short>& categoryOrder) {
  if (categoryOrder.empty()) {
    table.init(types);
    return;
  }
  for (const unsigned short column : categoryOrder) table.columnMaps[column] = makeMap(types[column]);
  table.init(types, categoryOrder);
}

// A configured tree table and the builder of its rows.
class TestTable {
 public:
  TestTable(const std::vector<DATA_TYPE>& types, const std::vector<unsigned short>& categoryOrder)
      : rows_(types) {
    configure(table, types, categoryOrder);
  }
  void addRow(const Row& values) { table.addRow(rows_.row(values)); }

  TreeTable table;

 private:
  RowBuilder rows_;
};

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

}  // namespace test_support
