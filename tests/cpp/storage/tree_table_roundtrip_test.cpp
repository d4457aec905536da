// Random typed rows written as CSV, read through the CSV reader into a tree
// table with random categorised columns, and read back through the table
// iterator: the rows that come back must be exactly the rows written.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "storage/csv_reader.h"
#include "../test_support.h"

namespace {

using test_support::Row;

class RandomRows {
 public:
  explicit RandomRows(unsigned seed) : random_(seed) {}

  std::vector<DATA_TYPE> types() {
    std::vector<DATA_TYPE> types(2 + random_() % 7);
    for (DATA_TYPE& type : types) type = static_cast<DATA_TYPE>(1 + random_() % 8);
    return types;
  }

  // Low-cardinality columns draw from a handful of values so that they make
  // good tree levels and nodes split.
  std::string value(DATA_TYPE type, bool fewValues) {
    const unsigned pick = fewValues ? random_() % 6 : random_();
    switch (type) {
      case LONG:
        return std::to_string(static_cast<long>(pick % 2000000) * 4000000007L - 4000000000000000L);
      case INT:
        return std::to_string(static_cast<int>(pick % 2000000) - 1000000);
      case SHORT:
        return std::to_string(static_cast<int>(pick % 60000) - 30000);
      case DOUBLE:
        return std::to_string(static_cast<double>(static_cast<int>(pick % 100000) - 50000) / 8);
      case FLOAT:
        return std::to_string(static_cast<float>(static_cast<int>(pick % 4000) - 2000) / 4);
      case BOOL:
        return pick % 2 ? "1" : "0";
      case DATE:
        return intToDateString(static_cast<unsigned short>(pick % 65536));
      case STRING:
        return text(fewValues ? pick : random_());
    }
    return "";
  }

  unsigned next() { return random_(); }

 private:
  std::string text(unsigned pick) {
    static const char alphabet[] = "abcXYZ019 ,;.-_";
    std::string value(pick % 24, ' ');
    for (char& c : value) c = alphabet[random_() % (sizeof alphabet - 1)];
    return value;
  }

  std::mt19937 random_;
};

std::string csvLine(const Row& row) {
  std::string line;
  for (size_t column = 0; column < row.size(); ++column) {
    if (column != 0) line += ',';
    const bool quote = row[column].find(',') != std::string::npos;
    line += quote ? "\"" + row[column] + "\"" : row[column];
  }
  return line;
}

TEST(TreeTableRoundTripTest, RowsComeBackThroughCsvAndTree) {
  test_support::ScratchDir directory;
  const std::string path = directory.path("rows.csv");
  unsigned splitTables = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    RandomRows random(seed);
    const std::vector<DATA_TYPE> types = random.types();
    std::vector<bool> fewValues(types.size());
    std::vector<unsigned short> order;
    for (unsigned short column = 0; column < types.size(); ++column) {
      fewValues[column] = random.next() % 2 == 0;
      if (fewValues[column] || random.next() % 4 == 0) order.push_back(column);
    }
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));

    std::vector<Row> written;
    {
      std::ofstream out(path);
      out << "header\n";
      const unsigned rows = 2000 + random.next() % 15000;
      for (unsigned i = 0; i < rows; ++i) {
        Row row;
        for (size_t column = 0; column < types.size(); ++column) {
          row.push_back(random.value(types[column], fewValues[column]));
        }
        out << csvLine(row) << '\n';
        written.push_back(row);
      }
    }

    TreeTable table;
    test_support::configure(table, types, order);
    CSVReader reader;
    reader.init(path, types);
    while (reader.nextRow()) table.addRow(reader.getRowView());

    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(table.numRows, written.size());
    table.validateTree();
    splitTables += table.nodes.size() > 1 ? 1 : 0;
    std::vector<Row> read = test_support::readAll(table);
    std::sort(read.begin(), read.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(read, written);
  }
  EXPECT_GE(splitTables, 4u);
}

}  // namespace
