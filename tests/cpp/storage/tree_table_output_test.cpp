#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "errors/database_exception.h"
#include "storage/tree_table.h"
#include "../test_support.h"

namespace {

using test_support::configure;
using test_support::RowBuilder;

class WriteTableTest : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(path.c_str()); }
  std::string written() const {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  const std::string path = "/tmp/tree_table_output_" + std::to_string(getpid()) + ".csv";
};

TEST_F(WriteTableTest, QuotesValuesHoldingCommasOnly) {
  TreeTable table;
  table.init({STRING, DOUBLE});
  RowBuilder rows({STRING, DOUBLE});
  table.addRow(rows.row({"a,b", "1.5"}));
  table.addRow(rows.row({"say \"hi\"", "-2"}));
  table.addRow(rows.row({"", "0"}));
  table.writeTable(path);
  EXPECT_EQ(written(), "\"a,b\",1.500000\nsay \"hi\",-2.000000\n,0.000000\n");
}

TEST_F(WriteTableTest, EmptyTableGivesEmptyFile) {
  TreeTable table;
  configure(table, {INT}, {0});
  {
    std::ofstream old(path);
    old << "old content\n";
  }
  table.writeTable(path);
  EXPECT_EQ(written(), "");
}

TEST_F(WriteTableTest, CategorisedValuesAreDecodedInReadingOrder) {
  const std::vector<DATA_TYPE> types{INT, DATE, STRING};
  TreeTable table;
  configure(table, types, {0, 1});
  RowBuilder rows(types);
  for (const char* value : {"3", "1", "2"}) table.addRow(rows.row({value, "2020-02-29", "x"}));
  table.writeTable(path);
  EXPECT_EQ(written(), "3,2020-02-29,x\n1,2020-02-29,x\n2,2020-02-29,x\n");
  table.splitTable(0);
  table.writeTable(path);
  EXPECT_EQ(written(), "1,2020-02-29,x\n2,2020-02-29,x\n3,2020-02-29,x\n");
}

TEST_F(WriteTableTest, UnwritableFileIsReported) {
  TreeTable table;
  table.init({INT});
  try {
    table.writeTable("/nonexistent-dir/out.csv");
    FAIL();
  } catch (const DatabaseException& e) {
    EXPECT_STREQ(e.what(), "Unable to write file /nonexistent-dir/out.csv");
  }
}

}  // namespace
