#include "storage/tree_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "../test_support.h"

namespace {

using test_support::configure;
using test_support::pathOf;
using test_support::readAll;
using test_support::Row;
using test_support::RowBuilder;
using Path = std::vector<unsigned short>;

std::string pad(size_t length) { return std::string(length, 'p'); }

std::vector<Row> sorted(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

const NodeTable* rootOf(const TreeTable& table) { return *table.nodes.begin(); }

unsigned short numberOf(TreeTable& table, unsigned short column, int value) {
  return table.columnMaps.at(column)->getInt(&value);
}

TEST(TreeTableInitTest, LaysOutPlainAndCategorisedColumns) {
  TreeTable table;
  EXPECT_TRUE(table.needsConfiguration);
  configure(table, {STRING, INT, DOUBLE, DATE}, {3, 0});
  EXPECT_FALSE(table.needsConfiguration);
  EXPECT_EQ(table.plainColumns, (std::vector<unsigned short>{1, 2}));
  EXPECT_EQ(table.columnIndex, (std::vector<unsigned short>{1, 0, 1, 0}));
  EXPECT_EQ(table.plainConfig.fixedWidth, 12);
  ASSERT_EQ(table.nodes.size(), 1u);
  EXPECT_EQ(rootOf(table)->level, 2);
  EXPECT_EQ(pathOf(table, rootOf(table)), (Path{0, 0}));

  // Without categories every row stays in the root, however large.
  TreeTable plain;
  plain.init({INT, STRING});
  EXPECT_TRUE(plain.needsConfiguration) << "a table without categories waits for a rebuild";
  RowBuilder rows({INT, STRING});
  std::vector<Row> loaded;
  for (int i = 0; i < 3000; ++i) {
    loaded.push_back({std::to_string(i), pad(static_cast<size_t>(i % 97))});
    plain.addRow(rows.row(loaded.back()));
  }
  EXPECT_EQ(plain.nodes.size(), 1u);
  EXPECT_GT(rootOf(plain)->capacity(), 81920u);
  EXPECT_EQ(readAll(plain), loaded);
}

TEST(TreeTableInitTest, TextsHandedApartNeedNoTerminator) {
  // Texts packed back to back, as a reader finds them in its input: each
  // is followed by the next one's bytes, not by a NUL.
  const std::string packed = "northsouthnorthx";
  const std::vector<std::vector<std::pair<size_t, size_t>>> texts{
      {{0, 5}, {5, 5}}, {{5, 5}, {10, 5}}, {{10, 5}, {15, 1}}, {{15, 1}, {0, 0}}};
  TreeTable table;
  configure(table, {STRING, INT, STRING}, {0});
  RowBuilder rows({STRING, INT, STRING});
  std::vector<Row> expected;
  for (size_t index = 0; index < texts.size(); ++index) {
    const char* starts[2];
    size_t bytes[2];
    Row values;
    for (size_t text = 0; text < 2; ++text) {
      const auto [at, length] = texts[index][text];
      starts[text] = packed.data() + at;
      bytes[text] = length + 1;
      values.push_back(packed.substr(at, length));
    }
    expected.push_back({values[0], std::to_string(index), values[1]});
    // The row's own texts are not read.
    NodeIterator& row = rows.row({"unread", std::to_string(index), "unread"});
    table.addRow(row, starts, bytes);
  }
  EXPECT_EQ(sorted(readAll(table)), sorted(expected));
  EXPECT_TRUE(table.columnMaps.at(0)->containsValue(const_cast<char*>("north")));
  EXPECT_FALSE(table.columnMaps.at(0)->containsValue(const_cast<char*>("northsouth")));
}

TEST(TreeTableInitTest, InconsistentLayoutsAndRowsAreRefused) {
  TreeTable unset;
  RowBuilder rows({INT});
  EXPECT_THROW(unset.addRow(rows.row({"1"})), DatabaseException) << "rows before init";
  unset.init({INT, INT});
  EXPECT_THROW(unset.addRow(rows.row({"1"})), DatabaseException) << "rows of another layout";
  EXPECT_EQ(unset.numRows, 0u);
  // A load checks each layout once: a fitting row does not let another layout in.
  RowBuilder fitting({INT, INT});
  unset.beginLoad();
  unset.addRow(fitting.row({"1", "2"}));
  EXPECT_THROW(unset.addRow(rows.row({"1"})), DatabaseException) << "rows of another layout during a load";
  unset.addRow(fitting.row({"3", "4"}));
  unset.rollbackLoad();
  EXPECT_EQ(unset.numRows, 0u);

  const std::vector<DATA_TYPE> types{INT, INT, INT};
  TreeTable table;
  for (unsigned short column = 0; column < 3; ++column) table.columnMaps[column] = test_support::makeMap(INT);
  const std::vector<std::vector<unsigned short>> orders{{0, 1}, {0, 1, 1}, {0, 1, 5}};
  for (const auto& order : orders) {
    EXPECT_EQ(test_support::messageOf([&] { table.init(types, order); }),
              "Inconsistent number of categories in tree table");
  }
  EXPECT_THROW(table.init(types), DatabaseException);
  EXPECT_THROW(table.init({}), DatabaseException);
  EXPECT_THROW(table.init({INT, static_cast<DATA_TYPE>(9)}), DatabaseException);
  EXPECT_TRUE(table.nodes.empty());
  EXPECT_TRUE(table.needsConfiguration);
}

TEST(TreeTableSplitTest, OneLevelSplitsIntoOneChildPerValue) {
  const std::vector<DATA_TYPE> types{INT, INT, STRING};
  TreeTable table;
  configure(table, types, {0});
  RowBuilder rows(types);
  std::vector<Row> loaded;
  while (table.nodes.size() == 1) {
    const size_t before = rootOf(table)->capacity();
    const int i = static_cast<int>(loaded.size());
    loaded.push_back({std::to_string(5 - i % 5), std::to_string(i), pad(100)});
    table.addRow(rows.row(loaded.back()));
    if (table.nodes.size() > 1) {
      EXPECT_GT(before, 81920u);
    }
  }
  ASSERT_EQ(table.nodes.size(), 5u);
  for (const NodeTable* node : table.nodes) EXPECT_EQ(node->level, 0);
  EXPECT_EQ(table.numRows, loaded.size());
  // Reading order: grouped by value ascending, load order within a group.
  std::vector<Row> expected = loaded;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Row& a, const Row& b) { return std::stoi(a[0]) < std::stoi(b[0]); });
  EXPECT_EQ(readAll(table), expected);
  // The first child took over the root's path index.
  const int firstValue = 5;
  EXPECT_EQ(table.findNode(0)->level, 0);
  EXPECT_EQ(pathOf(table, table.findNode(0)), (Path{numberOf(table, 0, firstValue)}));
  table.validateTree();
}

TEST(TreeTableSplitTest, RefusedSplitRaisesTheThreshold) {
  const std::vector<DATA_TYPE> types{INT, INT, STRING};
  TreeTable table;
  configure(table, types, {0});
  RowBuilder rows(types);
  int i = 0;
  uint32_t lastCapacity = 0;
  unsigned short lastAttempts = 0;
  while (table.nodes.size() == 1) {
    lastCapacity = rootOf(table)->capacity();
    lastAttempts = rootOf(table)->splitAttempts;
    table.addRow(rows.row({std::to_string(i % 20), std::to_string(i), pad(100)}));
    ++i;
  }
  // 20 values: refused at 88064 bytes, accepted at the first size above
  // 2 x 81920 whose share per value exceeds 8192.
  EXPECT_EQ(lastAttempts, 2);
  EXPECT_EQ(lastCapacity, 512u * 326);
  EXPECT_EQ(table.nodes.size(), 20u);
  table.validateTree();
}

TEST(TreeTableSplitTest, NewValueAfterARootSplitOpensATopLevelBranch) {
  const std::vector<DATA_TYPE> types{INT, INT, STRING};
  TreeTable table;
  configure(table, types, {0, 1});
  RowBuilder rows(types);
  for (int i = 0; i < 6; ++i) table.addRow(rows.row({std::to_string(1 + i % 2), std::to_string(i), "x"}));
  table.splitTable(0);
  ASSERT_EQ(table.nodes.size(), 2u);
  table.addRow(rows.row({"7", "9", "y"}));
  ASSERT_EQ(table.nodes.size(), 3u);
  const NodeTable* added = table.findNode(table.branches.numPaths - 1);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->level, 1);
  EXPECT_EQ(pathOf(table, added), (Path{numberOf(table, 0, 7), 0}));
  table.validateTree();
}

TEST(TreeTableSplitTest, NewSecondLevelValueOpensABranchBesideTheSplitChildren) {
  const std::vector<DATA_TYPE> types{INT, INT, INT, STRING};
  TreeTable table;
  configure(table, types, {0, 1, 2});
  RowBuilder rows(types);
  for (int i = 0; i < 8; ++i) {
    table.addRow(rows.row({std::to_string(1 + i % 2), std::to_string(10 + i % 2), "3", "x"}));
  }
  table.splitTable(0);
  const unsigned short a = numberOf(table, 0, 1);
  NodeTable* childA = nullptr;
  for (NodeTable* node : table.nodes) {
    if (pathOf(table, node)[0] == a) childA = node;
  }
  ASSERT_NE(childA, nullptr);

  // While the child for a is unsplit the row lands in it.
  const size_t usedBefore = childA->used();
  table.addRow(rows.row({"1", "20", "4", "y"}));
  EXPECT_EQ(table.nodes.size(), 2u);
  EXPECT_GT(childA->used(), usedBefore);

  table.splitTable(childA->pathIndex);
  const size_t nodesBefore = table.nodes.size();
  table.addRow(rows.row({"1", "30", "5", "z"}));
  ASSERT_EQ(table.nodes.size(), nodesBefore + 1);
  const NodeTable* added = table.findNode(table.branches.numPaths - 1);
  EXPECT_EQ(added->level, 1);
  EXPECT_EQ(pathOf(table, added), (Path{a, numberOf(table, 1, 30), 0}));
  table.validateTree();
  EXPECT_EQ(readAll(table).size(), 10u);
}

TEST(TreeTableSplitTest, SplitFailuresLeaveTheTreeIntact) {
  TreeTable table;
  table.init({INT});
  EXPECT_EQ(test_support::messageOf([&] { table.splitTable(0); }), "Unable to split table with level 0");
  TreeTable categorised;
  configure(categorised, {INT}, {0});
  EXPECT_THROW(categorised.splitTable(0), DatabaseException);  // no rows
  EXPECT_THROW(categorised.splitTable(7), DatabaseException);  // no such path
  EXPECT_EQ(categorised.nodes.size(), 1u);
}

// Paths alternating row by row, and long runs of one path that go on
// through the splits of their node.
TEST(TreeTableSplitTest, TableOfOnlyCategorisedColumnsKeepsItsRowsAfterSplits) {
  for (const int run : {1, 7000}) {
    SCOPED_TRACE("rows per path " + std::to_string(run));
    TreeTable table;
    configure(table, {INT, SHORT}, {0, 1});
    RowBuilder rows({INT, SHORT});
    std::vector<Row> loaded;
    for (int i = 0; i < 60000; ++i) {
      loaded.push_back({std::to_string(i / run % 3), std::to_string(i / run % 2)});
      table.addRow(rows.row(loaded.back()));
    }
    EXPECT_GT(table.nodes.size(), 1u);
    table.validateTree();
    EXPECT_EQ(sorted(readAll(table)), sorted(loaded));
  }
}

// A second level whose values arrive in every order, renumbered at once
// or once at the end (as a load does), in a tree where some nodes hold the
// level in their paths and others in their rows: afterwards every row reads
// back the same, numbers follow the values and every node is found by its
// path again (the renumbering may reorder the paths).
TEST(TreeTableRebalanceTest, RenumberingRewritesPathsAndStoredRows) {
  const std::vector<DATA_TYPE> types{INT, INT, INT, STRING};
  for (const bool deferred : {false, true}) {
    for (const char* order : {"sorted", "reverse", "random", "gap"}) {
      SCOPED_TRACE(std::string(order) + (deferred ? ", deferred" : ", at once"));
      TreeTable table;
      configure(table, types, {0, 1});
      RowBuilder rows(types);
      std::vector<Row> loaded;
      const auto add = [&](int a, int b) {
        loaded.push_back({std::to_string(a), std::to_string(b), std::to_string(loaded.size()), pad(300)});
        table.addRow(rows.row(loaded.back()));
      };
      // One second-level value per first-level value: both levels split.
      for (int i = 0; i < 2000; ++i) add(1 + i % 2, 5000);
      // A small third branch keeps its second-level numbers in its rows.
      for (int i = 0; i < 5; ++i) add(3, 5000);
      if (deferred) table.deferRenumbering();
      for (const int b : test_support::arrivalOrder(order, 1500)) {
        add(1 + b % 2, b);
        add(3, b);
      }
      if (deferred) table.completeRenumbering();
      bool pathHoldsLevel = false;
      bool rowsHoldLevel = false;
      for (const NodeTable* node : table.nodes) {
        (pathOf(table, node)[1] != 0 ? pathHoldsLevel : rowsHoldLevel) = true;
        EXPECT_EQ(table.findNode(node->pathIndex), node);
      }
      EXPECT_TRUE(pathHoldsLevel);
      EXPECT_TRUE(rowsHoldLevel);
      unsigned short previous = 0;
      for (int b = 0; b <= 5000; b = b == 1499 ? 5000 : b + 1) {
        EXPECT_GT(numberOf(table, 1, b), previous) << b;
        previous = numberOf(table, 1, b);
      }
      table.validateTree();
      EXPECT_EQ(sorted(readAll(table)), sorted(loaded));
    }
  }
}

// A refused row may have numbered its first level already: the next row on
// that number must still find its own node, not the one of the row before.
TEST(TreeTableRebalanceTest, OnlyAFullMapRefusesAValueAndNamesTheColumn) {
  const std::vector<DATA_TYPE> types{STRING, INT, INT};
  TreeTable table;
  table.columnMaps[2] = test_support::makeMap(INT);
  table.columnMaps[1] = test_support::makeMap(INT);
  ColumnMapBase* map = table.columnMaps[1];
  // Every number but one taken, neighbours one apart.
  for (int value = 0; value < 2 * 65533; value += 2) map->add(&value, 0);
  map->recalculatePositions();
  table.init(types, {2, 1});
  RowBuilder rows(types);
  table.addRow(rows.row({"first", "4", "1"}));
  table.addRow(rows.row({"second", "5", "1"}));
  table.splitTable(0);
  EXPECT_EQ(map->getSize(), 65534u);
  EXPECT_EQ(test_support::messageOf([&] { table.addRow(rows.row({"third", "7", "2"})); }),
            "Unable to add another value to column 1. Column should be setup as non-category.");
  EXPECT_EQ(table.numRows, 2u);
  EXPECT_EQ(readAll(table), (std::vector<Row>{{"first", "4", "1"}, {"second", "5", "1"}}));
  table.addRow(rows.row({"fourth", "5", "2"}));
  EXPECT_EQ(table.nodes.size(), 2u);
  EXPECT_EQ(readAll(table), (std::vector<Row>{{"first", "4", "1"}, {"second", "5", "1"}, {"fourth", "5", "2"}}));
  table.validateTree();
}

TEST(TreeTableLimitTest, OverlongRowIsRefusedAndEarlierRowsStay) {
  const std::vector<DATA_TYPE> types{STRING, STRING, INT};
  TreeTable table;
  configure(table, types, {2});
  RowBuilder rows(types);
  table.addRow(rows.row({"a", "b", "1"}));
  // 2 category bytes + 30000 + 1 + 35531 + 1 = 65535 bytes: the largest row.
  table.addRow(rows.row({pad(30000), pad(35531), "2"}));
  const std::string message = test_support::messageOf([&] { table.addRow(rows.row({pad(30000), pad(35532), "3"})); });
  EXPECT_NE(message.find("65535"), std::string::npos) << message;
  EXPECT_EQ(table.numRows, 2u);
  EXPECT_EQ(table.columnMaps[2]->getSize(), 2u);  // the refused row added no value
  const std::vector<Row> stored = readAll(table);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1][1].size(), 35531u);
}

TEST(TreeTableValidateTest, FaultsAreReported) {
  TreeTable table;
  configure(table, {INT, INT}, {0});
  RowBuilder rows({INT, INT});
  table.addRow(rows.row({"1", "2"}));
  table.validateTree();
  NodeTable* root = const_cast<NodeTable*>(rootOf(table));
  const unsigned short unknown = 7;
  std::memcpy(root->start(), &unknown, 2);
  EXPECT_EQ(test_support::messageOf([&] { table.validateTree(); }), "Tree validation: incorrect node path value");
  root->level = 0;
  EXPECT_EQ(test_support::messageOf([&] { table.validateTree(); }), "Tree validation: incorrect node level");
}

TEST(TreeTableStatisticsTest, CountsNodesAndValues) {
  TreeTable fresh;
  fresh.init({INT});
  EXPECT_EQ(fresh.getStatistics(),
            "NumNodes:1 NumCat:0 BuffSize:0.000488 ExBuff:0.000488 Avg:512.000000 Qnt:512,512,512,512,512");

  const std::vector<DATA_TYPE> types{INT, INT, STRING};
  TreeTable table;
  configure(table, types, {0});
  RowBuilder rows(types);
  for (int i = 0; i < 4000; ++i) table.addRow(rows.row({std::to_string(i % 5), "0", pad(100)}));
  const std::string statistics = table.getStatistics();
  EXPECT_EQ(statistics.rfind("NumNodes:5 NumCat:5 BuffSize:", 0), 0u) << statistics;
}

}  // namespace
