#pragma once

// Shared pieces of the libFuzzer targets: a scratch working directory, file
// writing, and the checks every target runs after its input (every table
// still validates and reads back cell by cell, every query result reads back
// cell by cell, and the buffer pool holds no block once everything is gone).
// A broken invariant aborts, so libFuzzer records the input as a crash.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/config.h"
#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "query/query_set.h"
#include "storage/buffer.h"
#include "storage/buffer_manager.h"
#include "storage/table_iterator.h"
#include "storage/tree_table.h"

namespace fuzz {

[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

// A fresh directory under the system's temporary directory, made the
// working directory so that relative file names in commands and ".tbconfig"
// resolve there; removed at normal process exit. libFuzzer reads corpus,
// dictionary and artifact paths after this, so those must be absolute.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    path_ = std::string(base != nullptr ? base : "/tmp") + "/tabulon-fuzz-XXXXXX";
    if (mkdtemp(path_.data()) == nullptr || chdir(path_.c_str()) != 0) {
      fail("cannot create the scratch directory");
    }
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

 private:
  std::string path_;
};

// Enters the process's scratch directory, creating it on the first call.
inline void enterScratchDirectory() { static const ScratchDirectory directory; }

inline void writeFile(const std::string& name, const uint8_t* data, size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) fail("cannot write " + name);
}

inline void writeFile(const std::string& name, const std::string& text) {
  writeFile(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Puts both process-wide settings back to their defaults.
inline void resetSettings() {
  CONFIG_CATEGORY_THRESHOLD = 40000;
  CONFIG_LINES_THRESHOLD = 10000;
  CONFIG_THREADS = 1;
}

// Reads every cell of a query result through the cursor, as text and, where
// the column is numeric, as numbers; then reads the rows again in bulk (which
// must give the same texts) and renders the result as CSV. Conversion
// refusals are expected; anything else escaping is a fault.
inline void readEveryCell(QuerySet& cursor) {
  const uint32_t rows = cursor.getNumberOfRows();
  const unsigned short cols = cursor.getNumberOfCols();
  std::vector<std::string> cells;
  for (uint32_t row = 0; row < rows; ++row) {
    cursor.setRow(row);
    for (unsigned short col = 0; col < cols; ++col) {
      cells.push_back(cursor.getString(col));
      if (cursor.isNull(col) && !cells.back().empty()) fail("a NULL reads as a text that is not empty");
      cursor.getColumnType(col);
      try {
        cursor.getLong(col);
      } catch (const DatabaseException&) {
      }
      try {
        cursor.getDouble(col);
      } catch (const DatabaseException&) {
      }
    }
  }
  std::vector<std::string> bulk;
  cursor.readRows(0, rows, [&](const QuerySet::Row& row) {
    for (unsigned short col = 0; col < cols; ++col) bulk.push_back(row.text(col));
  });
  if (bulk != cells) fail("bulk reading disagrees with reading cell by cell");
  Buffer csv;
  cursor.populateCSV(csv);
  cursor.getHeader(",");
}

// Every table of the database must validate and read back completely with
// as many rows as it counts.
inline void checkTables(const Database& database) {
  const unsigned short tables = database.getNumberOfTables();
  for (unsigned short table = 0; table < tables; ++table) {
    const TreeTable& tree = database.getTreeTable(table);
    try {
      tree.validateTree();
    } catch (const DatabaseException& e) {
      fail(std::string("validateTree: ") + e.what());
    }
    TableIterator rows(&tree);
    unsigned int count = 0;
    while (rows.nextRow()) {
      ++count;
      for (unsigned short column = 0; column < tree.numColumns; ++column) rows.getString(column);
    }
    if (count != tree.numRows) fail("a table reads back a different number of rows");
  }
}

// Remembers how many pooled blocks exist when an input starts and checks
// that exactly as many exist once everything the input built is gone.
class PoolBalance {
 public:
  PoolBalance() : before_(BufferManager::getInstance().blocksInUse()) {}
  void check() const {
    if (BufferManager::getInstance().blocksInUse() != before_) {
      fail("pooled blocks were not returned to the buffer pool");
    }
  }

 private:
  uint64_t before_;
};

}  // namespace fuzz
