// Every command the engine refuses must leave the database as it was: after
// each failure every table still validates and the reference queries answer
// exactly as before. A failed load leaves its table exactly as before it:
// rows, row order, category numbers and results read before the load.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../test_support.h"
#include "catalogue/config.h"
#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "parserengine/parser_engine.h"
#include "query/query_set.h"
#include "storage/tree_table.h"

namespace {

using test_support::messageOf;
using Rows = std::vector<std::vector<std::string>>;

const char* const kColumns = "id int, g string, k int, x double, day date, flag bool";
const char* const kLevels = "id int, g string cat 1, k int cat 2, x double, day date, flag bool";

const std::string kBadBool = "Unable to convert value ";
const std::string kBoolForms =
    " to boolean. Accepted values TRUE/True/true/YES/Yes/yes/Y/y/1 for true and FALSE/False/false/NO/No/no/N/n/0 "
    "for false";
const std::string kTooLong =
    "Text of 70001 bytes is too long: a text value holds at most 65535 bytes including its terminating NUL";

const std::vector<std::string> kReferenceQueries = {
    "select * from p order by id",
    "select * from c order by id",
    "select * from s order by id desc",
    "select id, x from c where (g = east or k > 2) and flag = 1 order by x desc, id",
    "select id, k, day from s where day >= 2024-01-10 or x < 0 order by day, id",
    "select id, g, k from p join c on id = id where k != 3 order by id",
};

// The numbers 0 to count - 1 in breadth-first order of a balanced search
// tree over them. Category numbers are handed out as midpoints between
// neighbours, so values arriving in this order are numbered without ever
// renumbering the map (sorted input would renumber it every few values).
std::vector<int> balancedOrder(int count) {
  std::vector<int> order;
  std::deque<std::pair<int, int>> ranges = {{0, count - 1}};
  while (!ranges.empty()) {
    const auto [low, high] = ranges.front();
    ranges.pop_front();
    if (low > high) continue;
    const int middle = low + (high - low) / 2;
    order.push_back(middle);
    ranges.emplace_back(low, middle - 1);
    ranges.emplace_back(middle + 1, high);
  }
  return order;
}

class FailedCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string data = "id,g,k,x,day,flag\n";
    const char* const regions[] = {"east", "west", "north", "south"};
    for (int i = 0; i < 60; ++i) {
      data += std::to_string(i) + "," + regions[i % 4] + "," + std::to_string(i % 5) + "," +
              std::to_string(i * 0.5 - 7) + ",2024-01-" + std::to_string(10 + i % 20) + "," +
              (i % 3 == 0 ? "true" : "0") + "\n";
    }
    directory_.write("data.csv", data);
    directory_.write("sample.csv", "a,b\n1,true\n2,perhaps\n");

    database_ = std::make_shared<Database>();
    engine_ = std::make_unique<ParserEngine>(*database_);
    run(std::string("create table p (") + kColumns + ")");
    run(std::string("create table c (") + kLevels + ")");
    run(std::string("create table s (") + kColumns + ") config from " + path("data.csv"));
    run(std::string("create table w (") + kColumns + ")");
    for (const char* table : {"p", "c", "s"}) run(std::string("load ") + table + " from " + path("data.csv"));
    for (const std::string& query : kReferenceQueries) reference_[query] = select(query);
  }

  std::string path(const std::string& name) const { return directory_.path(name); }
  void run(const std::string& command) { engine_->executeCommand(command.c_str()); }

  Rows select(const std::string& query) {
    QuerySet cursor(engine_->executeSelect(query.c_str()), database_);
    Rows rows;
    for (uint32_t row = 0; row < cursor.getNumberOfRows(); ++row) {
      cursor.setRow(row);
      rows.emplace_back();
      for (unsigned short col = 0; col < cursor.getNumberOfCols(); ++col) rows.back().push_back(cursor.getString(col));
    }
    return rows;
  }

  std::string commandFailure(const std::string& command) {
    return messageOf([&] { run(command); });
  }
  std::string selectFailure(const std::string& query) {
    return messageOf([&] { select(query); });
  }

  // Every table validates, and the reference queries answer as before.
  void expectUsable() {
    for (unsigned short table = 0; table < database_->getNumberOfTables(); ++table) {
      EXPECT_NO_THROW(database_->getTreeTable(table).validateTree()) << "table " << database_->getTableName(table);
    }
    for (const auto& [query, rows] : reference_) EXPECT_EQ(select(query), rows) << query;
  }

  test_support::ScratchDir directory_;
  std::shared_ptr<Database> database_;
  std::unique_ptr<ParserEngine> engine_;
  std::map<std::string, Rows> reference_;
};

struct Refusal {
  std::string text;
  std::string message;
};

TEST_F(FailedCommands, RefusedStatementsChangeNothing) {
  const std::vector<Refusal> refusals = {
      {"select * from p", "Function supports all non-select statements"},
      {"drop p", "Unexpected token identified at pos 1: p"},
      {"load p into x", "Unexpected token identified at pos 2: into"},
      {"create view v (a int)", "Unexpected token identified at pos 1: view"},
      {"create table z (a int) config data.csv", "Unexpected token identified at pos 8: data.csv"},
      {"create table z (a 'int", "Unmatched quotation mark in token 'int"},
      {"create table z (a integer)", "Column type integer is not supported"},
      {"create table z (a int, b Text)", "Column type text is not supported"},
      {"create table z (a int cat '')", "Category number is empty for column a"},
      {"create table p (a int) config from " + path("data.csv"), "Table p already exists"},
      {"create table p (a int)", "Table is already defined - unable to initialize p"},
      {"create table z (a int cat 2, b int cat 2)", "Multiple columns mapped to the same category 2"},
      {"create table z (a int, a string)", "Column a is defined twice in table z"},
      {"create table", "Missing table name after 'table'"},
      {"create table z (", "Missing column definition after '('"},
      {"create table z (a int); drop table p", "Invalid token identified: ;"},
      {"create table z (a int) config from " + path("data.csv") + " separator '\"'",
       "Separator '\"' cannot separate fields: a double quote starts a quoted field"},
      {"load p from " + path("data.csv") + " " + path("data.csv"), "Invalid token identified: " + path("data.csv")},
      {"drop table p extra", "Invalid token identified: extra"},
      {"create table z (a int) config from " + path("missing.csv"), "Unable to read file " + path("missing.csv")},
      {"load nope from " + path("data.csv"), "Table nope is not defined"},
      {"load p from " + path("missing.csv"), "Unable to read file " + path("missing.csv")},
      {"load p from " + directory_.str(), "Unable to read file " + directory_.str()},
      {"drop table nope", "Table nope is not defined"},
      {"drop table " + std::string(70000, ','), "Command has more than 65535 tokens"},
      {"create table z (a int, b bool) config from " + path("sample.csv"),
       kBadBool + "perhaps" + kBoolForms + ", line 3 of " + path("sample.csv")},
  };
  for (const Refusal& refusal : refusals) {
    EXPECT_EQ(commandFailure(refusal.text), refusal.message) << refusal.text;
    expectUsable();
  }
  EXPECT_EQ(database_->getNumberOfTables(), 4);
  EXPECT_EQ(selectFailure("select * from z"), "Table z is not defined");
}

TEST_F(FailedCommands, RefusedQueriesChangeNothing) {
  std::string manyTokens = "select id from p where";
  for (int i = 0; i < 16400; ++i) manyTokens += " id = 1 or";
  const std::string longText(70000, 'x');
  const std::vector<Refusal> refusals = {
      {"drop table p", "Function supports only select statements"},
      {"   ", "Empty SELECT statement"},
      {"select id from p extra", "Invalid token identified: extra"},
      {"select id from p where g = 'x", "Unmatched quotation mark in token 'x"},
      {"select id from p order id", "Unexpected token identified at pos 5: id"},
      {"select id from", "Missing table name after 'from'"},
      {"select id from p where", "Missing condition after 'where'"},
      {"select id from c where ((id = 1) or id = 2", "Missing ')' in the where clause: 1 bracket(s) opened and not closed"},
      {"select id from nope", "Table nope is not defined"},
      {"select q from p", "Column q is not defined for table p"},
      {"select id from c where q = 1", "Column q is not defined for table c"},
      {"select id from s order by q", "Column q is not defined for table s"},
      {"select id from p where id like 3", "Unsupported select condition operator like"},
      {"select id from c where (id = 1))",
       "Missing '(' in the where clause: a ')' after id = 1 closes no bracket"},
      {"select id from p where flag = maybe",
       kBadBool + "maybe" + kBoolForms},
      {"select id from c where flag != 2",
       kBadBool + "2" + kBoolForms},
      {"select id from p where day = 2024-13-45",
       "Unable to convert value 2024-13-45 to date. Accepted format YYYY-MM-DD from 1970-01-01 to 2149-06-06"},
      {"select id from p join c on id = id join s on id = id", "Only 1 join condition allowed"},
      {"select id from p join c on id = zz", "Column zz is not defined"},
      {"select id from p join nope on id = id", "Table nope is not defined"},
      {"select id from p join c on zz = id", "Column zz is not defined"},
      {"select zz from p join c on id = id", "Column zz is not defined"},
      {"select id from p join c on id = id where zz = 1", "Column zz is not defined"},
      {"select id from p join c on id = id order by zz", "Column zz is not defined"},
      {"select id from p join c on g = k", "Join columns g and k have different types"},
      {manyTokens, "Command has more than 65535 tokens"},
      {"select id from p where g = " + longText, kTooLong},
      {"select id from c where g < " + longText, kTooLong},
  };
  for (const Refusal& refusal : refusals) {
    EXPECT_EQ(selectFailure(refusal.text), refusal.message) << refusal.text;
    expectUsable();
  }
}

// Every category number of every level of table `name`, level by level.
std::vector<std::vector<unsigned short>> categoryNumbers(Database& database, const std::string& name) {
  TreeTable& tree = database.getTreeTable(database.getTableNumber(name));
  std::vector<std::vector<unsigned short>> numbers(tree.numCategories);
  for (unsigned short level = 0; level < tree.numCategories; ++level) tree.levelMaps[level]->getAllInts(numbers[level]);
  return numbers;
}

TEST_F(FailedCommands, AFailedLoadLeavesTheTableAsItWas) {
  const std::string header = "id,g,k,x,day,flag\n";
  struct BadLine {
    std::string text;
    std::string message;  // before ", line N of FILE"
  };
  const std::vector<BadLine> badLines = {
      {"3,east,1", "Incorrect number of columns in input file {file}, line: 3,east,1"},
      {"3,east,99999999999,2.5,2024-01-01,1", "Value 99999999999 does not fit column k of type int"},
      {"3,east,1,2.5,2024-01-01,maybe", kBadBool + "maybe" + kBoolForms},
      {"3,east,1,2.5,01/02/2024,1",
       "Unable to convert value 01/02/2024 to date. Accepted format YYYY-MM-DD from 1970-01-01 to 2149-06-06"},
      // 19 bytes of fixed-width values, then the text and its NUL.
      {"3," + std::string(70000, 'a') + ",1,2.5,2024-01-01,1",
       "Row of 70020 bytes is too long: a stored row holds at most 65535 bytes"},
  };
  // 3000 good rows with new values of both levels of c (k below all it
  // holds, so its map is renumbered) before, around or after the bad line.
  std::string good;
  for (int i = 0; i < 3000; ++i) {
    good += std::to_string(100 + i) + ",r" + std::to_string(i % 97) + "," + std::to_string(-1 - i % 300) +
            ",1.5,2024-03-01,1\n";
  }
  const size_t middle = good.find('\n', good.size() / 2) + 1;
  const std::vector<std::pair<std::string, std::string>> placements = {
      {"", good}, {good.substr(0, middle), good.substr(middle)}, {good, ""}};
  for (const char* table : {"p", "c", "s", "w"}) {
    const std::string all = std::string("select * from ") + table;
    const Rows stored = select(all);
    const auto numbers = categoryNumbers(*database_, table);
    QuerySet before(engine_->executeSelect(all.c_str()), database_);
    for (const BadLine& bad : badLines) {
      for (const auto& [head, tail] : placements) {
        directory_.write("bad.csv", header + head + bad.text + "\n" + tail);
        const auto line = 2 + std::count(head.begin(), head.end(), '\n');
        std::string message = bad.message;
        if (message.find("{file}") != std::string::npos) message.replace(message.find("{file}"), 6, path("bad.csv"));
        message += ", line " + std::to_string(line) + " of " + path("bad.csv");
        EXPECT_EQ(commandFailure(std::string("load ") + table + " from " + path("bad.csv")), message);
        ASSERT_EQ(select(all), stored) << table << " " << bad.text.substr(0, 30) << " at line " << line;
        EXPECT_EQ(categoryNumbers(*database_, table), numbers) << table;
        if (!stored.empty()) {
          before.setRow(before.getNumberOfRows() - 1);
          EXPECT_EQ(before.getString(0), stored.back()[0]) << "a result read before the load stays valid";
        }
        expectUsable();
      }
    }
    // The fixed file adds each of its rows once.
    directory_.write("fixed.csv", header + good);
    run(std::string("load ") + table + " from " + path("fixed.csv"));
    EXPECT_EQ(select(all).size(), stored.size() + 3000) << table;
    for (const std::string& query : kReferenceQueries) reference_[query] = select(query);
    expectUsable();
  }
}

// Loads that split nodes or rebuild an unconfigured table as a tree before
// their last row fails are undone whole.
TEST_F(FailedCommands, SplitsAndRebuildsOfAFailedLoadAreUndone) {
  test_support::ThresholdGuard guard;
  CONFIG_LINES_THRESHOLD = 50;
  run("create table split (a int cat 1, b int cat 2, t string)");
  run("create table plain (a int, b int, t string)");
  std::string rows = "a,b,t\n";
  for (int i = 0; i < 20000; ++i) {
    rows += std::to_string(i % 7) + "," + std::to_string(i % 13) + ",text" + std::to_string(i) + "\n";
  }
  directory_.write("bad.csv", rows + "1,2\n");
  // 30 rows: the failing load splits the root of one table and takes the
  // other past the threshold.
  rows.resize(rows.find("text29\n") + 7);
  directory_.write("first.csv", rows);
  run("load split from " + path("first.csv"));
  run("load plain from " + path("first.csv"));
  for (const char* table : {"split", "plain"}) {
    const TreeTable& tree = database_->getTreeTable(database_->getTableNumber(table));
    const size_t nodes = tree.nodes.size();
    const Rows stored = select(std::string("select * from ") + table);
    EXPECT_NE(commandFailure(std::string("load ") + table + " from " + path("bad.csv")), "");
    const TreeTable& after = database_->getTreeTable(database_->getTableNumber(table));
    EXPECT_EQ(&after, &tree) << "the tree a rebuild replaced comes back";
    EXPECT_EQ(after.nodes.size(), nodes);
    EXPECT_EQ(select(std::string("select * from ") + table), stored) << table;
    EXPECT_NO_THROW(after.validateTree());
  }
}

// The table whose tree the interrupt check below watches.
const Database* gWatched = nullptr;

// Stops a load as soon as the watched table has a single level left.
bool stopOnceALevelIsDropped(void*) {
  return gWatched->getTreeTable(gWatched->getTableNumber("chosen")).numCategories == 1;
}

// A load that drops a level the table chose (its 65,534 numbers all
// taken) and then fails, at a bad row or stopped from outside, is undone
// whole: the tree it began with comes back with its rows, their order and
// their numbers.
TEST_F(FailedCommands, ALoadThatDroppedALevelIsUndoneWhole) {
  test_support::ThresholdGuard guard;
  CONFIG_LINES_THRESHOLD = 50;
  std::string first = "k,g\n";
  for (int i = 0; i < 100; ++i) first += std::to_string(i % 5) + "," + std::to_string(i % 3) + "\n";
  std::string more = "k,g\n";
  for (int i = 0; i < 70000; ++i) more += std::to_string(5 + i) + "," + std::to_string(i % 3) + "\n";
  directory_.write("first.csv", first);
  directory_.write("more.csv", more);
  directory_.write("bad.csv", more + "1\n");
  run("create table chosen (k int, g int)");
  run("load chosen from " + path("first.csv"));
  const TreeTable& tree = database_->getTreeTable(database_->getTableNumber("chosen"));
  ASSERT_EQ(tree.numCategories, 2) << "both columns are levels after the rebuild";
  const Rows stored = select("select * from chosen");
  const auto numbers = categoryNumbers(*database_, "chosen");

  struct Failure {
    const char* file;
    InterruptScope::HostCheck check;
    std::string message;
  };
  const std::vector<Failure> failures = {
      {"bad.csv", nullptr, "Incorrect number of columns in input file " + path("bad.csv") + ", line: 1, line 70002 of " + path("bad.csv")},
      {"more.csv", stopOnceALevelIsDropped, "Interrupted"},
  };
  gWatched = database_.get();
  for (const Failure& failure : failures) {
    std::string message;
    try {
      const InterruptScope scope(nullptr, failure.check, nullptr);
      run("load chosen from " + path(failure.file));
    } catch (const std::exception& e) {
      message = e.what();
    }
    EXPECT_EQ(message, failure.message);
    EXPECT_EQ(&database_->getTreeTable(database_->getTableNumber("chosen")), &tree) << failure.file;
    EXPECT_EQ(select("select * from chosen"), stored) << failure.file;
    EXPECT_EQ(categoryNumbers(*database_, "chosen"), numbers) << failure.file;
    EXPECT_NO_THROW(tree.validateTree());
  }
  run("load chosen from " + path("more.csv"));
  EXPECT_EQ(database_->getTreeTable(database_->getTableNumber("chosen")).categoryColumns,
            std::vector<unsigned short>{1});
  EXPECT_EQ(select("select k from chosen where g = 1").size(), 33u + 23333u);
  expectUsable();
}

TEST_F(FailedCommands, ATextLevelFullOfValuesRefusesTheNextOne) {
  std::string text = "t\n";
  for (const int i : balancedOrder(40001)) text += "v" + std::to_string(100000 + i) + "\n";
  directory_.write("texts.csv", text + "w\n");
  run("create table many (t string cat 1)");
  EXPECT_EQ(commandFailure("load many from " + path("texts.csv")),
            "Category exceeds max size of 40000, unable to add value w, line 40003 of " + path("texts.csv"));
  EXPECT_EQ(select("select t from many").size(), 0u);
  directory_.write("texts.csv", text);
  run("load many from " + path("texts.csv"));
  EXPECT_EQ(select("select t from many where t >= v140000").size(), 1u);
  expectUsable();
}

TEST_F(FailedCommands, ANumberLevelWithoutRoomRefusesTheValue) {
  // 40020 values, then 40000 more between them: every one finds a number
  // until all 65534 numbers are taken, and the next value is refused.
  std::string evens = "v\n";
  for (const int i : balancedOrder(40000)) evens += std::to_string(100 + 2 * i) + "\n";
  for (int below = 99; below >= 80; --below) evens += std::to_string(below) + "\n";
  std::string odds = "v\n";
  for (int i = 0; i < 40000; ++i) odds += std::to_string(101 + 2 * i) + "\n";
  directory_.write("evens.csv", evens);
  directory_.write("odds.csv", odds);
  run("create table dense (v int cat 1)");
  run("load dense from " + path("evens.csv"));
  const auto numbers = categoryNumbers(*database_, "dense");
  EXPECT_EQ(commandFailure("load dense from " + path("odds.csv")).rfind(
                "Unable to add another value to column 0. Column should be setup as non-category., line ", 0),
            0u);
  EXPECT_EQ(select("select v from dense").size(), 40020u);
  EXPECT_EQ(categoryNumbers(*database_, "dense"), numbers);
  expectUsable();
}

}  // namespace
