// Every pooled block goes back to the buffer pool: once the parsers, cursors
// and indexes of a session are gone, the pool's registry holds exactly the
// blocks it held before the session, whatever the session did (loads that
// split and renumber, rebuilds, joins, sorted queries, failed commands, drops
// with live cursors).

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../test_support.h"
#include "databaseparser/database_parser.h"
#include "errors/database_exception.h"
#include "query/query_set.h"
#include "query/table_index.h"
#include "storage/buffer_manager.h"

namespace {

uint64_t blocksInUse() { return BufferManager::getInstance().blocksInUse(); }

class BufferPoolBalance : public ::testing::Test {
 protected:
  void SetUp() override {
    // Descending k runs out of category numbers at the low end (renumbering);
    // enough rows that nodes split.
    std::string rows = "id,g,k,x,s\n";
    for (int i = 0; i < 12000; ++i) {
      rows += std::to_string(i) + ",g" + std::to_string(i % 7) + "," + std::to_string((12000 - i) % 400) + "," +
              std::to_string(i * 0.25) + ",text number " + std::to_string(i) + "\n";
    }
    directory_.write("rows.csv", rows);
  }

  std::string file() const { return directory_.path("rows.csv"); }

  static void readAll(QuerySet& cursor) {
    for (uint32_t row = 0; row < cursor.getNumberOfRows(); ++row) {
      cursor.setRow(row);
      for (unsigned short col = 0; col < cursor.getNumberOfCols(); ++col) cursor.getString(col);
    }
  }

  test_support::ScratchDir directory_;
};

TEST_F(BufferPoolBalance, ASessionReturnsEveryBlock) {
  const uint64_t before = blocksInUse();
  {
    std::optional<QuerySet> survivor;
    {
      DatabaseParser parser;
      parser.executeCommand("create table a (id int, g string cat 1, k int cat 2, x double, s string)");
      parser.executeCommand(("create table b (id int, g string, k int, x double, s string) config from " + file()).c_str());
      parser.executeCommand("create table c (id int, g string, k int, x double, s string)");
      for (const char* table : {"a", "b", "c"}) {
        parser.executeCommand((std::string("load ") + table + " from " + file()).c_str());
      }
      QuerySet sorted = parser.executeSelect("select * from a where k < 100 or g = g3 order by k desc, s");
      readAll(sorted);
      QuerySet joined = parser.executeSelect("select id, s from c join b on k = k where id < 50 order by s");
      readAll(joined);
      survivor = parser.executeSelect("select g, x from b where x >= 100");
      TableIndex index = parser.createIndex("a", "k");
      for (const char* bad : {"load a from missing.csv", "create table a (z int)", "drop table nope"}) {
        EXPECT_THROW(parser.executeCommand(bad), DatabaseException);
      }
      EXPECT_THROW(parser.executeSelect("select nope from a"), DatabaseException);
      DatabaseParser copy(parser);
      copy.executeCommand("drop table a");
      EXPECT_THROW(readAll(sorted), DatabaseException);
    }
    // The cursor keeps its database alive after the parser is gone.
    EXPECT_GT(blocksInUse(), before);
    readAll(*survivor);
  }
  EXPECT_EQ(blocksInUse(), before);
}

TEST_F(BufferPoolBalance, DroppingATableReturnsItsBlocks) {
  DatabaseParser parser;
  const uint64_t empty = blocksInUse();
  for (int round = 0; round < 3; ++round) {
    parser.executeCommand("create table t (id int, g string cat 1, k int cat 2, x double, s string)");
    parser.executeCommand(("load t from " + file()).c_str());
    EXPECT_GT(blocksInUse(), empty);
    parser.executeCommand("drop table t");
    EXPECT_EQ(blocksInUse(), empty);
  }
}

}  // namespace
