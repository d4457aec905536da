#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/config.h"
#include "catalogue/database.h"
#include "catalogue/table_configurator.h"
#include "errors/database_exception.h"
#include "storage/column_map.h"
#include "storage/data_iterator.h"
#include "storage/table_iterator.h"
#include "storage/tree_table.h"

namespace {

using Row = std::vector<std::string>;

// Rows of INT columns held in memory; counts the nextRow calls.
class IntRows : public DataIterator {
 public:
  explicit IntRows(std::vector<std::vector<int>> rows) : rows_(std::move(rows)) {}

  bool nextRow() override {
    ++advances;
    return ++current_ < rows_.size();
  }
  void* getPointer(unsigned short column) override { return &rows_[current_][column]; }

  unsigned int advances = 0;

 private:
  std::vector<std::vector<int>> rows_;
  size_t current_ = 0;
};

// `count` rows whose column c holds row % distinct[c].
std::vector<std::vector<int>> cyclicRows(size_t count, const std::vector<int>& distinct) {
  std::vector<std::vector<int>> rows(count);
  for (size_t row = 0; row < count; ++row) {
    for (const int values : distinct) rows[row].push_back(static_cast<int>(row % values));
  }
  return rows;
}

std::unique_ptr<TreeTable> configure(IntRows& rows, size_t numColumns) {
  return std::unique_ptr<TreeTable>(
      configTreeTableFromDataIterator(&rows, std::vector<DATA_TYPE>(numColumns, INT)));
}

ColumnConfig column(const std::string& name, DATA_TYPE type, unsigned short category = NO_CATEGORY) {
  return ColumnConfig{name, category, type};
}

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DatabaseException& e) {
    return e.what();
  }
  return "no exception";
}

// Every row of a table as text, in reading order.
std::vector<Row> readAll(const Database& database, const std::string& table) {
  TableIterator rows = database.getTableIterator(table);
  const unsigned short numColumns = database.getNumberOfColumns(table);
  std::vector<Row> result;
  while (rows.nextRow()) {
    Row row;
    for (unsigned short c = 0; c < numColumns; ++c) row.push_back(rows.getString(c));
    result.push_back(row);
  }
  return result;
}

// Keeps the process-wide thresholds of each test to itself.
class ThresholdGuard {
 public:
  ThresholdGuard() : lines_(CONFIG_LINES_THRESHOLD), categories_(CONFIG_CATEGORY_THRESHOLD) {}
  ~ThresholdGuard() {
    CONFIG_LINES_THRESHOLD = lines_;
    CONFIG_CATEGORY_THRESHOLD = categories_;
  }

 private:
  uint32_t lines_;
  uint16_t categories_;
};

class TableConfiguratorTest : public ::testing::Test {
 protected:
  ThresholdGuard thresholds;
};

TEST_F(TableConfiguratorTest, KeepsColumnsWithAtMostSquareRootDistinctValues) {
  // 3 and 50 distinct values over 10000 rows: 9 <= 10000 and 2500 <= 10000.
  IntRows rows(cyclicRows(10000, {3, 50}));
  const auto table = configure(rows, 2);
  EXPECT_EQ(table->categoryColumns, (std::vector<unsigned short>{0, 1}));
  EXPECT_FALSE(table->needsConfiguration);
  EXPECT_EQ(table->columnMaps.at(0)->getSize(), 3u);
  EXPECT_EQ(table->columnMaps.at(1)->getSize(), 50u);
  EXPECT_EQ(table->numRows, 0u);
  EXPECT_EQ(rows.advances, 10000u);  // read to the end
}

TEST_F(TableConfiguratorTest, DropsColumnWithMoreDistinctValuesThanSquareRoot) {
  // Over 2000 rows the 50-value column fails: 2500 > 2000.
  IntRows rows(cyclicRows(2000, {3, 50}));
  const auto table = configure(rows, 2);
  EXPECT_EQ(table->categoryColumns, (std::vector<unsigned short>{0}));
  EXPECT_EQ(table->isPlain, (std::vector<unsigned char>{0, 1}));
  EXPECT_EQ(table->columnMaps.count(1), 0u);
}

TEST_F(TableConfiguratorTest, OrdersLevelsByDistinctCountThenColumnNumber) {
  IntRows rows(cyclicRows(1000, {4, 7, 2, 4}));
  const auto table = configure(rows, 4);
  EXPECT_EQ(table->categoryColumns, (std::vector<unsigned short>{2, 0, 3, 1}));
}

TEST_F(TableConfiguratorTest, ColumnAboveCategoryThresholdIsNeverALevel) {
  CONFIG_CATEGORY_THRESHOLD = 20;
  IntRows rows(cyclicRows(10000, {21, 20}));
  const auto table = configure(rows, 2);
  EXPECT_EQ(table->categoryColumns, (std::vector<unsigned short>{1}));
}

TEST_F(TableConfiguratorTest, MoreThanFortyThousandValuesFailWhateverTheRowCount) {
  // Default threshold 40000; the row count would allow 65535 values.
  std::map<unsigned short, ColumnMapBase*> maps;
  for (const unsigned short column : {0, 1}) {
    maps[column] = createColumnMap(INT);
    const int values = column == 0 ? 40000 : 40001;
    for (int value = 0; value < values; ++value) maps[column]->add(&value, 0);
  }
  cleanColumnMaps(maps, UINT_MAX);
  ASSERT_EQ(maps.size(), 1u);
  EXPECT_EQ(maps.begin()->first, 0);
  for (auto& [c, map] : maps) delete map;
}

TEST_F(TableConfiguratorTest, IntermediateCleaningDropsAColumnForGood) {
  // Cleanings every 100 rows. Column 0 shows 11 values in its first 100
  // rows (121 > 100) and none after; over all 10000 rows 11 values would
  // pass, but the column was dropped at the first cleaning.
  CONFIG_LINES_THRESHOLD = 95;
  auto data = cyclicRows(10000, {11, 2});
  for (size_t row = 100; row < data.size(); ++row) data[row][0] = 0;
  IntRows rows(data);
  const auto table = configure(rows, 2);
  EXPECT_EQ(table->categoryColumns, (std::vector<unsigned short>{1}));
}

TEST_F(TableConfiguratorTest, SamplingStopsOnceNoCandidateIsLeft) {
  CONFIG_LINES_THRESHOLD = 95;
  IntRows rows(cyclicRows(1000, {1000, 1000}));
  const auto table = configure(rows, 2);
  EXPECT_EQ(rows.advances, 99u);  // 100 rows sampled, then the cleaning left nothing
  EXPECT_TRUE(table->needsConfiguration);
  EXPECT_EQ(table->numCategories, 0);
  EXPECT_TRUE(table->columnMaps.empty());
}

TEST_F(TableConfiguratorTest, CreateColumnMapRefusesUnknownType) {
  EXPECT_EQ(errorOf([] { delete createColumnMap(static_cast<DATA_TYPE>(0)); }),
            "Unknown data type provided");
  std::unique_ptr<ColumnMapBase> text(createColumnMap(STRING));
  const char* value = "x";
  EXPECT_TRUE(text->add(const_cast<char*>(value)));
}

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() /
                ("database_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory);
  }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::string path(const std::string& name) const { return (directory / name).string(); }

  // Writes a CSV file: a header line, then the rows.
  std::string writeCsv(const std::string& name, const std::vector<Row>& rows) {
    std::ofstream out(path(name), std::ios::binary);
    out << "header\n";
    for (const Row& row : rows) {
      for (size_t c = 0; c < row.size(); ++c) out << (c == 0 ? "" : ",") << row[c];
      out << "\n";
    }
    return path(name);
  }

  // Rows of two int columns: a = row % aValues, b = row % bValues.
  static std::vector<Row> cyclic(int count, int aValues, int bValues) {
    std::vector<Row> rows;
    for (int row = 0; row < count; ++row) {
      rows.push_back({std::to_string(row % aValues), std::to_string(row % bValues)});
    }
    return rows;
  }

  static std::multiset<Row> asSet(const std::vector<Row>& rows) { return {rows.begin(), rows.end()}; }

  const std::vector<ColumnConfig> twoInts{column("a", INT), column("b", INT)};
  ThresholdGuard thresholds;
  std::filesystem::path directory;
  Database database;
};

TEST_F(DatabaseTest, TableInitOrdersLevelsByCategoryNumber) {
  database.tableInit("t", {column("x", STRING, 7), column("y", INT, 3), column("z", DOUBLE)});
  const TableConfig& config = database.getTableConfig("t");
  EXPECT_EQ(config.categoryColumns, (std::vector<unsigned short>{1, 0}));
  EXPECT_EQ(config.isPlain, (std::vector<unsigned char>{0, 0, 1}));
  EXPECT_FALSE(database.getTreeTable(0).needsConfiguration);
  EXPECT_EQ(database.getNumberOfColumns("t"), 3);
}

TEST_F(DatabaseTest, TableInitWithoutCategoriesLeavesTableUnconfigured) {
  database.tableInit("t", twoInts);
  const TreeTable& tree = database.getTreeTable(0);
  EXPECT_TRUE(tree.needsConfiguration);
  EXPECT_EQ(tree.numCategories, 0);
  EXPECT_EQ(tree.nodes.size(), 1u);
}

TEST_F(DatabaseTest, CreateRefusalsLeaveNoTable) {
  EXPECT_EQ(errorOf([&] { database.tableInit("t", {column("a", INT, 2), column("b", INT, 2)}); }),
            "Multiple columns mapped to the same category 2");
  EXPECT_EQ(errorOf([&] { database.tableInit("", twoInts); }), "Table name is empty");
  EXPECT_EQ(errorOf([&] { database.tableInit("t", {}); }), "Table t has no columns");
  const std::string data = writeCsv("data.csv", cyclic(3, 1, 1));
  EXPECT_EQ(errorOf([&] { database.configTable("", data, twoInts); }), "Table name is empty");
  EXPECT_EQ(errorOf([&] { database.configTable("t", data, {}); }), "Table t has no columns");
  EXPECT_EQ(errorOf([&] { database.configTable("t", path("missing.csv"), twoInts); }),
            "Unable to read file " + path("missing.csv"));
  EXPECT_EQ(database.getNumberOfTables(), 0);
  EXPECT_EQ(errorOf([&] { database.getTableNumber("t"); }), "Table t is not defined");
}

TEST_F(DatabaseTest, CreateRefusesNameInUseBeforeOpeningTheFile) {
  database.tableInit("t", twoInts);
  EXPECT_EQ(errorOf([&] { database.tableInit("t", twoInts); }),
            "Table is already defined - unable to initialize t");
  EXPECT_EQ(errorOf([&] { database.configTable("t", path("missing.csv"), twoInts); }),
            "Table t already exists");
  EXPECT_EQ(database.getNumberOfTables(), 1);
}

TEST_F(DatabaseTest, ConfigTableSamplesTheFileAndStaysEmpty) {
  database.configTable("t", writeCsv("data.csv", cyclic(10000, 3, 50)),
                       {column("a", INT, 9), column("b", INT, 1)});
  const TableConfig& config = database.getTableConfig("t");
  EXPECT_EQ(config.categoryColumns, (std::vector<unsigned short>{0, 1}));  // cat numbers ignored
  EXPECT_EQ(database.getTreeTable(0).numRows, 0u);
  EXPECT_FALSE(database.getTableIterator("t").nextRow());
}

TEST_F(DatabaseTest, ConfigTableFromHeaderOnlyFileHasNoLevels) {
  database.configTable("t", writeCsv("empty.csv", {}), twoInts);
  const TreeTable& tree = database.getTreeTable(0);
  EXPECT_TRUE(tree.needsConfiguration);
  EXPECT_EQ(tree.numCategories, 0);
  EXPECT_TRUE(tree.columnMaps.empty());
  EXPECT_EQ(tree.isPlain, (std::vector<unsigned char>{1, 1}));
}

TEST_F(DatabaseTest, ConfigTableWithBadRowCreatesNothing) {
  const std::string data = writeCsv("bad.csv", {{"1", "true"}, {"2", "maybe"}});
  EXPECT_NE(errorOf([&] { database.configTable("t", data, {column("a", INT), column("b", BOOL)}); }),
            "no exception");
  const std::string wide = writeCsv("wide.csv", {{"1", "2"}, {"1", "2", "3"}});
  EXPECT_EQ(errorOf([&] { database.configTable("t", wide, twoInts); }),
            "Incorrect number of columns in input file " + wide + ", line: 1,2,3");
  EXPECT_EQ(database.getNumberOfTables(), 0);
}

TEST_F(DatabaseTest, LoadFileAppendsRowsOfEveryLoad) {
  database.tableInit("t", {column("a", INT, 1), column("s", STRING)});
  database.loadFile("t", writeCsv("one.csv", {{"2", "x"}, {"1", "\"y,z\""}}));
  database.loadFile("t", writeCsv("two.csv", {{"2", "w"}}));
  EXPECT_EQ(database.getTreeTable(0).numRows, 3u);
  EXPECT_EQ(asSet(readAll(database, "t")), asSet({{"2", "x"}, {"1", "y,z"}, {"2", "w"}}));
}

TEST_F(DatabaseTest, FailedLoadKeepsEarlierRowsAndTableStaysUsable) {
  database.tableInit("t", {column("a", INT, 1), column("b", INT)});
  std::vector<Row> rows = cyclic(3000, 7, 1000);
  rows.push_back({"1", "2", "3"});
  rows.push_back({"4", "5"});
  const std::string data = writeCsv("bad.csv", rows);
  EXPECT_EQ(errorOf([&] { database.loadFile("t", data); }),
            "Incorrect number of columns in input file " + data + ", line: 1,2,3");
  EXPECT_EQ(database.getTreeTable(0).numRows, 3000u);
  EXPECT_NO_THROW(database.getTreeTable(0).validateTree());
  database.loadFile("t", writeCsv("more.csv", {{"9", "9"}}));
  rows.resize(3000);
  rows.push_back({"9", "9"});
  EXPECT_EQ(asSet(readAll(database, "t")), asSet(rows));
  EXPECT_NO_THROW(database.getTreeTable(0).validateTree());
}

TEST_F(DatabaseTest, UnconfiguredTableIsRebuiltOnceItPassesTheThreshold) {
  // With T = 100 the rebuild samples exactly the first 101 rows: there b
  // shows 10 values (100 <= 101) and qualifies; its 11th value arrives with
  // row 102, so a rebuild any later would leave b plain.
  CONFIG_LINES_THRESHOLD = 100;
  std::vector<Row> rows;
  for (int row = 0; row < 105; ++row) {
    rows.push_back({std::to_string(row % 3), std::to_string(row < 101 ? row % 10 : 10)});
  }
  database.tableInit("t", twoInts);
  const uint64_t before = *database.getTableChanges(0);
  database.loadFile("t", writeCsv("data.csv", rows));
  const TreeTable& tree = database.getTreeTable(0);
  EXPECT_FALSE(tree.needsConfiguration);
  EXPECT_EQ(tree.categoryColumns, (std::vector<unsigned short>{0, 1}));
  EXPECT_EQ(tree.numRows, 105u);
  EXPECT_EQ(asSet(readAll(database, "t")), asSet(rows));
  EXPECT_NO_THROW(tree.validateTree());
  EXPECT_EQ(*database.getTableChanges(0), before + 2);  // the load and the rebuild
}

TEST_F(DatabaseTest, RebuildWithoutLevelsWaitsUntilRowCountDoubles) {
  // T = 98: the attempt at 99 rows fails (10 values, 100 > 99); from 100
  // rows on the column would qualify, but the next attempt comes at 198.
  CONFIG_LINES_THRESHOLD = 98;
  std::vector<Row> rows;
  for (int row = 0; row < 200; ++row) rows.push_back({std::to_string(row < 10 ? row : 0)});
  database.tableInit("t", {column("a", INT)});
  database.loadFile("t", writeCsv("first.csv", std::vector<Row>(rows.begin(), rows.begin() + 150)));
  EXPECT_TRUE(database.getTreeTable(0).needsConfiguration);
  database.loadFile("t", writeCsv("second.csv", std::vector<Row>(rows.begin() + 150, rows.end())));
  const TreeTable& tree = database.getTreeTable(0);
  EXPECT_FALSE(tree.needsConfiguration);
  EXPECT_EQ(tree.numRows, 200u);
  EXPECT_EQ(asSet(readAll(database, "t")), asSet(rows));
}

TEST_F(DatabaseTest, ConstructTreeTableLeavesConfiguredAndEmptyTablesAlone) {
  database.tableInit("leveled", {column("a", INT, 1)});
  database.tableInit("empty", {column("a", INT)});
  database.loadFile("leveled", writeCsv("data.csv", {{"1"}, {"2"}}));
  const TreeTable* leveled = &database.getTreeTable(0);
  const TreeTable* empty = &database.getTreeTable(1);
  database.constructTreeTable("leveled");
  database.constructTreeTable("empty");
  EXPECT_EQ(&database.getTreeTable(0), leveled);
  EXPECT_EQ(&database.getTreeTable(1), empty);
  EXPECT_EQ(readAll(database, "leveled").size(), 2u);
}

TEST_F(DatabaseTest, DropRenumbersLaterTables) {
  database.tableInit("a", {column("x", INT)});
  database.tableInit("b", {column("x", INT), column("y", INT)});
  database.tableInit("c", {column("x", INT), column("y", INT), column("z", INT)});
  const std::shared_ptr<const uint64_t> changesOfA = database.getTableChanges(0);
  const uint64_t before = *changesOfA;
  database.deleteTable("a");
  EXPECT_EQ(*changesOfA, before + 1);
  EXPECT_EQ(database.getTableNumber("b"), 0);
  EXPECT_EQ(database.getTableNumber("c"), 1);
  EXPECT_EQ(database.getTableConfig("b").numColumns, 2);
  EXPECT_EQ(database.getTableConfig("c").numColumns, 3);
  EXPECT_EQ(database.getTreeTable(1).numColumns, 3);
  EXPECT_EQ(errorOf([&] { database.getTreeTable(2); }), "Table number 2 is not defined");
  database.loadFile("c", writeCsv("data.csv", {{"1", "2", "3"}}));
  EXPECT_EQ(readAll(database, "c"), (std::vector<Row>{{"1", "2", "3"}}));
  EXPECT_EQ(errorOf([&] { database.deleteTable("a"); }), "Table a is not defined");
}

TEST_F(DatabaseTest, OperationsOnUnknownTableFail) {
  const std::string message = "Table nope is not defined";
  const std::string data = writeCsv("data.csv", {{"1", "2"}});
  EXPECT_EQ(errorOf([&] { database.loadFile("nope", data); }), message);
  EXPECT_EQ(errorOf([&] { database.deleteTable("nope"); }), message);
  EXPECT_EQ(errorOf([&] { database.constructTreeTable("nope"); }), message);
  EXPECT_EQ(errorOf([&] { database.getTableConfig("nope"); }), message);
  EXPECT_EQ(errorOf([&] { database.getTableIterator("nope"); }), message);
  EXPECT_EQ(errorOf([&] { database.writeTable("nope", path("out.csv")); }), message);
  EXPECT_EQ(errorOf([&] { database.loadFile("", data); }), "Table  is not defined");
}

TEST_F(DatabaseTest, LoadOfUnreadableFileChangesNothing) {
  database.tableInit("t", twoInts);
  const uint64_t before = *database.getTableChanges(0);
  EXPECT_EQ(errorOf([&] { database.loadFile("t", path("missing.csv")); }),
            "Unable to read file " + path("missing.csv"));
  EXPECT_EQ(errorOf([&] { database.loadFile("t", ""); }), "Unable to read file ");
  database.loadFile("t", writeCsv("empty.csv", {}));
  EXPECT_EQ(*database.getTableChanges(0), before);
  EXPECT_EQ(database.getTreeTable(0).numRows, 0u);
}

TEST_F(DatabaseTest, WriteTableWritesRowsInReadingOrder) {
  database.tableInit("t", {column("a", INT, 1), column("s", STRING)});
  database.loadFile("t", writeCsv("data.csv", {{"3", "c"}, {"1", "\"a,b\""}, {"2", "b"}}));
  database.writeTable("t", path("out.csv"));
  std::ifstream in(path("out.csv"));
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(), "3,c\n1,\"a,b\"\n2,b\n");  // one unsplit node: load order
}

TEST_F(DatabaseTest, IteratorReadsEveryRow) {
  database.tableInit("t", twoInts);
  TableIterator empty = database.getTableIterator("t");
  EXPECT_FALSE(empty.nextRow());
  const std::vector<Row> rows = cyclic(500, 5, 7);
  database.loadFile("t", writeCsv("data.csv", rows));
  EXPECT_EQ(readAll(database, "t"), rows);  // plain rows keep load order
}

}  // namespace
