// libFuzzer target: command text against a database holding three small
// tables (one plain, one with tree levels given by "cat", one configured by
// sampling its file). The input is cut at ';' into up to 12 commands; each
// goes first through the query entry point and then through the statement
// entry point, so every command meets both (and is refused by one). Every
// result is read cell by cell, and older results are read again after later
// commands (a result whose tables changed must refuse, not crash). Afterwards
// every table must validate and read back.
//
// Building the tables costs more than most inputs, so the database is kept
// from one input to the next as long as no input could have changed it: an
// input that mentions "create", "load" or "drop" in any letter case gets the
// database rebuilt after it. Once the cursors are gone the buffer pool must
// hold exactly the blocks of the freshly built database, and none at all
// once a database is destroyed.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "fuzz_support.h"
#include "parserengine/parser_engine.h"
#include "query/query_set.h"
#include "storage/buffer_manager.h"

namespace {

constexpr size_t kMaxCommands = 12;
constexpr size_t kMaxCursors = 4;

const char* const kSetup[] = {
    ("create table a (id int, name string, price double, day date, flag bool, big long, qty short, "
     "ratio float)"),
    "load a from a.csv",
    "create table b (grp string cat 1, lvl int cat 2, v double, s string, id int)",
    "load b from b.csv",
    "create table c (k int, tag string, w double) config from c.csv",
    "load c from c.csv",
};

// Fixture files in the scratch directory; commands may load them again.
void writeFixtures() {
  std::string a = "id,name,price,day,flag,big,qty,ratio\n";
  std::string b = "grp,lvl,v,s,id\n";
  std::string c = "k,tag,w\n";
  const char* const names[] = {"alpha", "beta", "\"ga,mma\"", "", "delta", "Eps"};
  const char* const flags[] = {"true", "0", "False", "1"};
  for (int i = 0; i < 16; ++i) {
    a += std::to_string(i % 7 - 2) + "," + names[i % 6] + "," + std::to_string(i * 1.25 - 4) +
         ",20" + std::to_string(10 + i % 5) + "-0" + std::to_string(1 + i % 9) + "-1" +
         std::to_string(i % 10) + "," + flags[i % 4] + "," + std::to_string(5000000000LL * (i % 3 - 1)) +
         "," + std::to_string(i * 3 - 20) + "," + std::to_string(i / 4.0) + "\n";
    b += std::string("g") + std::to_string(i % 3) + "," + std::to_string(i % 4 * 10) + "," +
         std::to_string(i * 0.5) + "," + names[(i + 2) % 6] + "," + std::to_string(i % 5) + "\n";
    c += std::to_string(i % 4) + ",t" + std::to_string(i % 2) + "," + std::to_string(i * 2.0) + "\n";
  }
  fuzz::writeFile("a.csv", a);
  fuzz::writeFile("b.csv", b);
  fuzz::writeFile("c.csv", c);
}

std::vector<std::string> splitCommands(const uint8_t* data, size_t size) {
  std::vector<std::string> commands(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != ';') {
      commands.back().push_back(static_cast<char>(data[i]));
      continue;
    }
    if (commands.size() == kMaxCommands) break;
    commands.emplace_back();
  }
  return commands;
}

bool mayChange(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text.find("create") != std::string::npos || text.find("load") != std::string::npos ||
         text.find("drop") != std::string::npos;
}

// Older cursors must either still read (their tables are unchanged) or
// refuse with a DatabaseException.
void rereadCursors(std::vector<QuerySet>& cursors) {
  for (QuerySet& cursor : cursors) {
    try {
      fuzz::readEveryCell(cursor);
    } catch (const DatabaseException&) {
    }
  }
}

// The database with its three tables and an engine on it, and the pool
// figures to hold it to.
class Session {
 public:
  Session() { build(); }

  void run(const uint8_t* data, size_t size) {
    {
      std::vector<QuerySet> cursors;
      for (const std::string& command : splitCommands(data, size)) runCommand(command, cursors);
      fuzz::checkTables(*database_);
    }
    if (!mayChange(data, size)) {
      if (BufferManager::getInstance().blocksInUse() != ready_) {
        fuzz::fail("queries left blocks behind in the buffer pool");
      }
      return;
    }
    engine_.reset();
    database_.reset();
    if (BufferManager::getInstance().blocksInUse() != empty_) {
      fuzz::fail("a destroyed database left blocks behind in the buffer pool");
    }
    build();
  }

 private:
  void build() {
    fuzz::resetSettings();
    empty_ = BufferManager::getInstance().blocksInUse();
    database_ = std::make_shared<Database>();
    engine_ = std::make_unique<ParserEngine>(*database_);
    for (const char* command : kSetup) engine_->executeCommand(command);
    ready_ = BufferManager::getInstance().blocksInUse();
  }

  void runCommand(const std::string& command, std::vector<QuerySet>& cursors) {
    try {
      QuerySet cursor(engine_->executeSelect(command.c_str()), database_);
      fuzz::readEveryCell(cursor);
      if (cursors.size() == kMaxCursors) cursors.erase(cursors.begin());
      cursors.push_back(cursor);
    } catch (const DatabaseException&) {
    }
    try {
      engine_->executeCommand(command.c_str());
    } catch (const DatabaseException&) {
    }
    rereadCursors(cursors);
  }

  std::shared_ptr<Database> database_;
  std::unique_ptr<ParserEngine> engine_;
  uint64_t empty_ = 0;  // blocks in use before the database was built
  uint64_t ready_ = 0;  // blocks in use right after it was built
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enterScratchDirectory();
  writeFixtures();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Session session;
  session.run(data, size);
  return 0;
}
