#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"
#include "databaseparser/database_parser.h"
#include "errors/database_exception.h"
#include "query/table_index.h"

namespace {

using test_support::messageOf;

// A database with table t (id int, city string cat 1, score double) loaded
// from a file in a fresh directory.
class TableIndexThroughParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = directory_.write("t.csv", "id,city,score\n1,Oslo,2.5\n2,Rome,1\n3,Oslo,-4\n4,Lima,2.5\n");
    parser_.executeCommand("create table t (id int, city string cat 1, score double)");
    load();
  }

  void load() { parser_.executeCommand(("load t from '" + file_ + "'").c_str()); }

  test_support::ScratchDir directory_;
  std::string file_;
  DatabaseParser parser_;
};

}  // namespace

TEST_F(TableIndexThroughParserTest, LooksUpCategorisedAndPlainColumns) {
  TableIndex byCity = parser_.createIndex("t", "city");
  EXPECT_EQ(4U, byCity.getNumberOfRows());
  EXPECT_TRUE(byCity.findRow("Oslo"));
  EXPECT_EQ("1", byCity.getString(0));
  EXPECT_TRUE(byCity.checkNextRow("Oslo"));
  EXPECT_EQ("3", byCity.getString(0));
  EXPECT_FALSE(byCity.checkNextRow("Oslo"));
  EXPECT_FALSE(byCity.findRow("Paris"));
  EXPECT_EQ("Rome", byCity.getString(1));

  TableIndex byScore = parser_.createIndex("t", "score");
  const double key = 2.5;
  EXPECT_TRUE(byScore.findRow(&key));
  EXPECT_EQ("1", byScore.getString(0));
  EXPECT_TRUE(byScore.checkNextRow(&key));
  EXPECT_EQ("4", byScore.getString(0));
}

TEST_F(TableIndexThroughParserTest, UnknownNamesAreRefused) {
  EXPECT_EQ("Table t does not contain column nope",
            messageOf([&] { parser_.createIndex("t", "nope"); }));
  EXPECT_EQ("Table u is not defined", messageOf([&] { parser_.createIndex("u", "id"); }));
}

TEST_F(TableIndexThroughParserTest, ChangedTableInvalidatesTheIndex) {
  TableIndex index = parser_.createIndex("t", "id");
  const int key = 2;
  EXPECT_TRUE(index.findRow(&key));
  load();
  EXPECT_EQ("Query result is no longer valid: table t has changed",
            messageOf([&] { index.findRow(&key); }));
  EXPECT_EQ("Query result is no longer valid: table t has changed",
            messageOf([&] { index.getString(0); }));
  TableIndex fresh = parser_.createIndex("t", "id");
  EXPECT_EQ(8U, fresh.getNumberOfRows());
}

// NULL rows sort after every value in the index and equal no key: not the
// zero or empty text their stored form holds (0 is the largest key here, so
// NULL rows follow its rows), not a key above every value.
TEST(TableIndexNullTest, NullRowsMatchNoKey) {
  test_support::ScratchDir directory;
  const std::string file = directory.write("n.csv", "k,c,label\n,,a\n0,\"\",b\n,x,c\n-5,,d\n0,y,e\n");
  DatabaseParser parser;
  parser.executeCommand("create table n (k int null, c string cat 1 null, label string)");
  parser.executeCommand(("load n from '" + file + "'").c_str());
  const struct {
    const char* column;
    int number;         // the key of column k
    const char* text;   // the key of column c, when set
    std::vector<std::string> labels;
  } cases[] = {
      {"k", 0, nullptr, {"b", "e"}},
      {"k", -5, nullptr, {"d"}},
      {"k", 1, nullptr, {}},
      {"c", 0, "", {"b"}},
      {"c", 0, "y", {"e"}},
      {"c", 0, "z", {}},
  };
  for (const auto& c : cases) {
    TableIndex index = parser.createIndex("n", c.column);
    const void* const key = c.text != nullptr ? static_cast<const void*>(c.text) : &c.number;
    std::vector<std::string> labels;
    for (bool found = index.findRow(key); found; found = index.checkNextRow(key)) labels.push_back(index.getString(2));
    EXPECT_EQ(c.labels, labels) << c.column << " " << (c.text != nullptr ? c.text : std::to_string(c.number));
  }
}
