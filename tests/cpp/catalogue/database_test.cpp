#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../test_support.h"
#include "catalogue/config.h"
#include "catalogue/database.h"
#include "catalogue/table_configurator.h"
#include "storage/data_iterator.h"
#include "storage/tree_table.h"

namespace {

using test_support::messageOf;
using test_support::Row;

// Rows of INT columns held in memory, a negative value standing for NULL;
// counts the nextRow calls.
class IntRows : public DataIterator {
 public:
  explicit IntRows(std::vector<std::vector<int>> rows) : rows_(std::move(rows)) {}

  bool nextRow() override {
    ++advances;
    return ++current_ < rows_.size();
  }
  void* getPointer(unsigned short column) override {
    int& value = rows_[current_][column];
    return value < 0 ? nullptr : &value;
  }

  unsigned int advances = 0;

 private:
  std::vector<std::vector<int>> rows_;
  size_t current_ = 0;
};

// `count` rows whose column c holds row % distinct[c], where a column c
// with nulls[c] set has NULL in place of its largest value.
std::vector<std::vector<int>> cyclicRows(size_t count, const std::vector<int>& distinct,
                                         const std::vector<int>& nulls = {}) {
  std::vector<std::vector<int>> rows(count);
  for (size_t row = 0; row < count; ++row) {
    for (size_t c = 0; c < distinct.size(); ++c) {
      const int value = static_cast<int>(row % distinct[c]);
      const bool null = c < nulls.size() && nulls[c] != 0 && value == distinct[c] - 1;
      rows[row].push_back(null ? -1 : value);
    }
  }
  return rows;
}

std::unique_ptr<TreeTable> configure(IntRows& rows, size_t numColumns) {
  return std::unique_ptr<TreeTable>(configTreeTableFromDataIterator(&rows, std::vector<DATA_TYPE>(numColumns, INT)));
}

ColumnConfig column(const std::string& name, DATA_TYPE type, unsigned short category = NO_CATEGORY) {
  return ColumnConfig{name, category, type};
}

// "", "a" to "aaaaaaaa", then each of them with one byte changed to b, c
// or d: 117 distinct texts.
const std::vector<std::string>& alikeTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> all{""};
    for (size_t length = 1; length <= 8; ++length) all.emplace_back(length, 'a');
    for (const char changed : {'b', 'c', 'd'}) {
      for (size_t length = 1; length <= 8; ++length) {
        for (size_t at = 0; at < length; ++at) {
          std::string text(length, 'a');
          text[at] = changed;
          all.push_back(text);
        }
      }
    }
    return all;
  }();
  return texts;
}

std::multiset<Row> asSet(const std::vector<Row>& rows) { return {rows.begin(), rows.end()}; }

}  // namespace

// A column becomes a level when its distinct values, squared, do not
// exceed the rows sampled and stay within the category threshold; levels
// are ordered by distinct count, then column number. A NULL counts as one
// more distinct value.
TEST(TableConfiguratorTest, ChoosesAndOrdersTheLevels) {
  struct Case {
    size_t rows;
    std::vector<int> distinct;  // NULL included
    uint16_t categoryThreshold;
    std::vector<unsigned short> levels;
    std::vector<int> nulls;
  };
  const Case cases[] = {
      {10000, {3, 50}, 40000, {0, 1}, {}},
      {2000, {3, 50}, 40000, {0}, {}},  // 50 * 50 > 2000
      {1000, {4, 7, 2, 4}, 40000, {2, 0, 3, 1}, {}},
      {10000, {21, 20}, 20, {1}, {}},
      {2500, {51, 50}, 40000, {1}, {1, 0}},  // 50 values and NULL: 51 * 51 > 2500
      {1000, {4, 3}, 40000, {1, 0}, {1, 0}},  // 3 values and NULL outnumber 3 values
      {10000, {21, 20}, 20, {1}, {1, 1}},
  };
  for (const Case& c : cases) {
    test_support::ThresholdGuard thresholds;
    CONFIG_CATEGORY_THRESHOLD = c.categoryThreshold;
    IntRows rows(cyclicRows(c.rows, c.distinct, c.nulls));
    const auto table = configure(rows, c.distinct.size());
    EXPECT_EQ(table->categoryColumns, c.levels) << c.rows << " rows";
    EXPECT_EQ(table->numRows, 0u);
    EXPECT_EQ(rows.advances, c.rows) << "the sample reads to the end";
    EXPECT_EQ(table->columnMaps.size(), c.levels.size());
    const unsigned short first = c.levels.front();
    const int null = first < c.nulls.size() ? c.nulls[first] : 0;
    EXPECT_EQ(table->columnMaps.at(first)->getSize(), static_cast<size_t>(c.distinct[first] - null));
  }
}

TEST(TableConfiguratorTest, IntermediateCleaningDropsColumnsForGood) {
  test_support::ThresholdGuard thresholds;
  // Cleanings every 100 rows. Column 0 shows 11 values in its first 100
  // rows (121 > 100) and none after; over all 10000 rows 11 values would
  // pass, but the column was dropped at the first cleaning.
  CONFIG_LINES_THRESHOLD = 95;
  auto data = cyclicRows(10000, {11, 2});
  for (size_t row = 100; row < data.size(); ++row) data[row][0] = 0;
  IntRows rows(data);
  EXPECT_EQ(configure(rows, 2)->categoryColumns, (std::vector<unsigned short>{1}));

  // Once no candidate is left, sampling stops.
  IntRows distinct(cyclicRows(1000, {1000, 1000}));
  const auto table = configure(distinct, 2);
  EXPECT_EQ(distinct.advances, 99u);
  EXPECT_TRUE(table->needsConfiguration);
  EXPECT_TRUE(table->columnMaps.empty());
}

class DatabaseTest : public ::testing::Test {
 protected:
  // Writes a CSV file: a header line, then the rows.
  std::string writeCsv(const std::string& name, const std::vector<Row>& rows) {
    std::string text = "header\n";
    for (const Row& row : rows) {
      for (size_t c = 0; c < row.size(); ++c) text += (c == 0 ? "" : ",") + row[c];
      text += "\n";
    }
    return directory.write(name, text);
  }

  std::vector<Row> rowsOf() const { return test_support::readAll(database.getTreeTable(0)); }

  test_support::ThresholdGuard thresholds;
  test_support::ScratchDir directory;
  Database database;
};

TEST_F(DatabaseTest, LevelsComeFromCategoryNumbersOrFromTheSample) {
  database.tableInit("t", {column("x", STRING, 7), column("y", INT, 3), column("z", DOUBLE)});
  EXPECT_EQ(database.getTableConfig("t").categoryColumns, (std::vector<unsigned short>{1, 0}));
  EXPECT_FALSE(database.getTreeTable(0).needsConfiguration);

  std::vector<Row> rows;
  for (int row = 0; row < 10000; ++row) rows.push_back({std::to_string(row % 3), std::to_string(row % 50)});
  database.configTable("s", writeCsv("data.csv", rows), {column("a", INT, 9), column("b", INT, 1)});
  EXPECT_EQ(database.getTableConfig("s").categoryColumns, (std::vector<unsigned short>{0, 1})) << "cat numbers ignored";
  EXPECT_EQ(database.getTreeTable(1).numRows, 0u);
}

namespace {

// The levels a sample of a CSV file chose, in their order, each with the
// values of its map in number order.
std::vector<std::string> sampledLevels(Database& database, const std::string& table) {
  const TreeTable& tree = database.getTreeTable(database.getTableNumber(table));
  std::vector<std::string> levels;
  for (const unsigned short column : tree.categoryColumns) {
    ColumnMapBase& map = *tree.columnMaps.at(column);
    std::vector<unsigned short> numbers;
    map.getAllInts(numbers);
    std::string level = std::to_string(column) + ":";
    for (const unsigned short number : numbers) {
      level += " " + std::to_string(number) + "=" +
               getStringFromPtr(map.getValuePointer(number), tree.columnTypes[column]);
    }
    levels.push_back(level);
  }
  return levels;
}

}  // namespace

// A sample of a CSV file chooses the same levels, in the same order and
// with the same numbers, whatever the threads setting; the files span
// several of the batches that loads on several threads read.
TEST_F(DatabaseTest, SamplingChoosesAlikeWhateverTheThreadsSetting) {
  struct Case {
    const char* name;
    uint32_t linesThreshold;
    std::vector<ColumnConfig> columns;
    int rows;
    std::function<Row(int)> row;
    std::vector<unsigned short> levels;
  };
  ColumnConfig flag = column("f", BOOL);
  flag.nullable = true;
  const Case cases[] = {
      // Cleanings every 100 rows: a shows 11 values in its first 100 rows
      // (121 > 100) and none after, and goes for good at the first cleaning.
      {"dropped at a cleaning", 95, {column("a", INT), column("b", STRING)}, 10000,
       [](int r) { return Row{std::to_string(r < 100 ? r % 11 : 0), r % 2 != 0 ? "x" : "y"}; }, {1}},
      // id and t go within the first rows; s takes a fourth, quoted value
      // long after; f holds NULLs, which count as one more value.
      {"values after the drops", 10000,
       {column("id", INT), column("s", STRING), column("d", DOUBLE), column("t", STRING), flag}, 30000,
       [](int r) {
         return Row{std::to_string(r), r >= 5000 ? "\"s,3\"" : "s" + std::to_string(r % 3),
                    std::to_string((r % 7) * 0.5), "t" + std::to_string(r),
                    r % 3 == 0 ? "" : (r % 2 != 0 ? "true" : "false")};
       },
       {4, 1, 2}},
      // The second half of the file is read on a thread of its own with
      // threads above 1. a gains its values 0 to 89 at square row counts,
      // which keeps it; its 91st value, first at row 8200 (and again from row
      // 8251), passes sqrt(8200) at the cleaning of row 8200 but would be
      // kept at 8300 (91 * 91 = 8281): the tail's cleanings fall at the same
      // rows as one thread's, counting each value from where it first shows.
      {"dropped at a cleaning in the second half", 95, {column("a", INT), column("b", STRING)}, 16000,
       [](int r) {
         int value = std::clamp(static_cast<int>(std::sqrt(r)) - 1, 0, 89);
         if (r == 8199 || (r >= 8250 && r % 2 == 0)) value = 90;
         return Row{std::to_string(value), r % 2 != 0 ? "x" : "y"};
       },
       {1}},
      // Records over two lines, the middle of the file inside the first
      // line of one: the second half must not start at a line break in a
      // quoted field, so the calling thread reads on from the middle.
      {"quoted line breaks across the middle", 10000, {column("s", STRING), column("n", INT)}, 2000,
       [](int r) { return Row{"\"" + std::string(200, 'q') + "\n" + std::to_string(r % 3) + "\"", std::to_string(r % 2)}; },
       {1, 0}},
      // 101 texts of up to 8 bytes, many alike but for one byte or their
      // length: 101 * 101 > 10000 rows drops s, unless two of them were
      // taken for one.
      {"short texts alike", 10000, {column("s", STRING), column("b", STRING)}, 10000,
       [](int r) { return Row{alikeTexts()[r % 101], r % 2 != 0 ? "x" : "y"}; }, {1}},
      // No candidate is left after the first cleaning: sampling stops there.
      {"no candidate left", 95, {column("id", INT), column("t", STRING)}, 20000,
       [](int r) { return Row{std::to_string(r), "t" + std::to_string(r)}; }, {}},
  };
  int tables = 0;
  for (const Case& c : cases) {
    CONFIG_LINES_THRESHOLD = c.linesThreshold;
    std::vector<Row> rows;
    for (int r = 0; r < c.rows; ++r) rows.push_back(c.row(r));
    const std::string file = writeCsv(std::string(c.name) + ".csv", rows);
    std::vector<std::vector<std::string>> chosen;
    for (const uint16_t threads : {1, 2, 4}) {
      CONFIG_THREADS = threads;
      const std::string table = "t" + std::to_string(++tables);
      database.configTable(table, file, c.columns);
      EXPECT_EQ(database.getTableConfig(table).categoryColumns, c.levels) << c.name << ", threads " << threads;
      chosen.push_back(sampledLevels(database, table));
    }
    EXPECT_EQ(chosen[0], chosen[1]) << c.name;
    EXPECT_EQ(chosen[0], chosen[2]) << c.name;
  }
}

// A load that reads nothing changes nothing: cursors over the table stay
// valid. Loads that stop at a bad row are checked with every tree validated
// in the failed-commands tests.
TEST_F(DatabaseTest, LoadsThatReadNothingLeaveTheChangeCounter) {
  database.tableInit("t", {column("a", INT, 1), column("b", INT)});
  const uint64_t before = *database.getTableChanges(0);
  EXPECT_EQ(messageOf([&] { database.loadFile("t", directory.path("missing.csv")); }),
            "Unable to read file " + directory.path("missing.csv"));
  database.loadFile("t", writeCsv("empty.csv", {}));
  EXPECT_EQ(*database.getTableChanges(0), before);
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
  database.tableInit("t", {column("a", INT), column("b", INT)});
  const uint64_t before = *database.getTableChanges(0);
  database.loadFile("t", writeCsv("data.csv", rows));
  const TreeTable& tree = database.getTreeTable(0);
  EXPECT_EQ(tree.categoryColumns, (std::vector<unsigned short>{0, 1}));
  EXPECT_EQ(asSet(rowsOf()), asSet(rows));
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
  EXPECT_FALSE(database.getTreeTable(0).needsConfiguration);
  EXPECT_EQ(asSet(rowsOf()), asSet(rows));
}
