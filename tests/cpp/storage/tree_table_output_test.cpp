#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "errors/database_exception.h"
#include "storage/tree_table.h"
#include "../test_support.h"

namespace {

using test_support::configure;
using test_support::RowBuilder;

class WriteTableTest : public ::testing::Test {
 protected:
  std::string written() const {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  test_support::ScratchDir directory;
  const std::string path = directory.path("out.csv");
};

// Values holding a comma or a quote are quoted, their quotes doubled,
// nothing else is; categorised values
// are decoded; rows come in reading order; an empty table empties the file.
TEST_F(WriteTableTest, WritesRowsInReadingOrder) {
  const std::vector<DATA_TYPE> types{INT, DATE, STRING, DOUBLE};
  TreeTable table;
  configure(table, types, {0, 1});
  table.writeTable(path);
  EXPECT_EQ(written(), "");
  RowBuilder rows(types);
  table.addRow(rows.row({"3", "2020-02-29", "a,b", "1.5"}));
  table.addRow(rows.row({"1", "2020-02-29", "say \"hi\"", "-2"}));
  table.addRow(rows.row({"2", "2020-02-29", "", "0"}));
  table.writeTable(path);
  EXPECT_EQ(written(), "3,2020-02-29,\"a,b\",1.500000\n1,2020-02-29,\"say \"\"hi\"\"\",-2.000000\n2,2020-02-29,\"\",0.000000\n");
  table.splitTable(0);
  table.writeTable(path);
  EXPECT_EQ(written(), "1,2020-02-29,\"say \"\"hi\"\"\",-2.000000\n2,2020-02-29,\"\",0.000000\n3,2020-02-29,\"a,b\",1.500000\n");
}

TEST_F(WriteTableTest, UnwritableFileIsReported) {
  TreeTable table;
  table.init({INT});
  EXPECT_EQ(test_support::messageOf([&] { table.writeTable("/nonexistent-dir/out.csv"); }),
            "Unable to write file /nonexistent-dir/out.csv");
}

}  // namespace
