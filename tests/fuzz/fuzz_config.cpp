// libFuzzer target: the contents of ".tbconfig". The input is written to the
// file in the scratch working directory and a database is constructed, which
// reads it. When that succeeds, the thresholds it set (possibly extreme: 0,
// or the largest value, whose sum with 5 wraps in 32 bits) govern a small
// workload: a table rebuilt as a tree during its load, a table configured by
// sampling a file, and queries on both. Every table must validate and read
// back, and the buffer pool must hold no block once the database is gone.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/config.h"
#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "fuzz_support.h"
#include "parserengine/parser_engine.h"
#include "query/query_set.h"

namespace {

const char* const kWorkload[] = {
    "create table p (id int, grp string, lvl short, v double)",
    "load p from rows.csv",
    "create table q (id int, grp string, lvl short, v double) config from rows.csv",
    "load q from rows.csv",
};

const char* const kQueries[] = {
    "select * from p where grp = g1 or lvl > 2 order by lvl desc, id",
    "select grp, v from q where lvl <= 3 and grp != g0 order by grp, v desc",
};

// 80 rows: a column of 4 texts, one of 8 numbers, and two of distinct values.
void writeRows() {
  std::string text = "id,grp,lvl,v\n";
  for (int i = 0; i < 80; ++i) {
    text += std::to_string(i) + ",g" + std::to_string(i % 4) + "," + std::to_string(i % 8) + "," +
            std::to_string(i * 0.75) + "\n";
  }
  fuzz::writeFile("rows.csv", text);
}

void runWorkload(const std::shared_ptr<Database>& database) {
  ParserEngine engine(*database);
  for (const char* command : kWorkload) {
    try {
      engine.executeCommand(command);
    } catch (const DatabaseException&) {
    }
  }
  for (const char* text : kQueries) {
    try {
      QuerySet cursor(engine.executeSelect(text), database);
      fuzz::readEveryCell(cursor);
    } catch (const DatabaseException&) {
    }
  }
  fuzz::checkTables(*database);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enterScratchDirectory();
  writeRows();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::writeFile(CONFIG_FILE_NAME, data, size);
  fuzz::resetSettings();
  const fuzz::PoolBalance balance;
  {
    std::shared_ptr<Database> database;
    try {
      database = std::make_shared<Database>();
    } catch (const DatabaseException&) {
    }
    if (database != nullptr) runWorkload(database);
  }
  balance.check();
  fuzz::resetSettings();
  return 0;
}
