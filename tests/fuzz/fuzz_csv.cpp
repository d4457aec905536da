// libFuzzer target: CSV file bytes loaded into a table of fuzzer-chosen
// column types. Input layout:
//   byte 0            number of columns, 1 + b % 6
//   one byte a column type 1 + b % 8; bit 4 set makes the column a tree
//                     level (when the table takes levels from "cat"), bit 5
//                     declares it null (it may hold missing values)
//   next byte         how the table is made: (b & 0x3f) % 3 = 0 levels from
//                     "cat", 1 every column plain (rebuilt once it passes the
//                     lines threshold), 2 configured by sampling the file
//                     itself; b >> 6 how the file is written: 0 the bytes as
//                     they are, 1 gzip-compressed, 2 gzip-compressed in two
//                     members (the bytes cut in their middle), 3
//                     gzip-compressed and cut short by one byte
//   next byte         lines threshold, b % 48 (small, so rebuilds and the
//                     periodic cleaning of the sample happen)
//   the rest          the bytes of the CSV file (which may be gzip data too)
// The file is loaded twice, on one thread and then on four; after each load
// the table must validate and read back cell by cell, and sorted and
// filtered queries on it must read back.
// The buffer pool must hold no block once the database is gone.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/column_config.h"
#include "catalogue/config.h"
#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "fuzz_support.h"
#include "parserengine/parser_engine.h"
#include "query/query_set.h"

namespace {

constexpr size_t kMaxColumns = 6;
const char* const kFileName = "input.csv";

enum class Packing { kAsGiven, kGzip, kGzipMembers, kGzipCut };

struct Layout {
  std::vector<ColumnConfig> columns;
  unsigned mode = 0;
  Packing packing = Packing::kAsGiven;
  uint32_t linesThreshold = 0;
  size_t headerBytes = 0;
};

bool readLayout(const uint8_t* data, size_t size, Layout& layout) {
  if (size < 1) return false;
  const size_t count = 1 + data[0] % kMaxColumns;
  layout.headerBytes = 1 + count + 2;
  if (size < layout.headerBytes) return false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t code = data[1 + i];
    const bool level = (code & 0x10) != 0;
    layout.columns.push_back(ColumnConfig{"c" + std::to_string(i),
                                          level ? static_cast<unsigned short>(i + 1) : NO_CATEGORY,
                                          static_cast<DATA_TYPE>(1 + code % 8), (code & 0x20) != 0});
  }
  layout.mode = (data[1 + count] & 0x3f) % 3;
  layout.packing = static_cast<Packing>(data[1 + count] >> 6);
  layout.linesThreshold = data[2 + count] % 48;
  return true;
}

// The bytes as one gzip member.
std::string gzipMember(const uint8_t* data, size_t size) {
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    fuzz::fail("cannot set up gzip compression");
  }
  std::string member(deflateBound(&stream, size), '\0');
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<Bytef*>(member.data());
  stream.avail_out = static_cast<uInt>(member.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) fuzz::fail("gzip compression did not finish");
  member.resize(stream.total_out);
  deflateEnd(&stream);
  return member;
}

// The file's bytes as the layout asks them to be written.
std::string packed(const uint8_t* data, size_t size, Packing packing) {
  switch (packing) {
    case Packing::kAsGiven: return std::string(reinterpret_cast<const char*>(data), size);
    case Packing::kGzip: return gzipMember(data, size);
    case Packing::kGzipMembers: return gzipMember(data, size / 2) + gzipMember(data + size / 2, size - size / 2);
    case Packing::kGzipCut: {
      std::string member = gzipMember(data, size);
      member.pop_back();
      return member;
    }
  }
  return {};
}

void createTable(Database& database, const Layout& layout) {
  if (layout.mode == 2) {
    database.configTable("t", kFileName, layout.columns);
    return;
  }
  std::vector<ColumnConfig> columns = layout.columns;
  if (layout.mode == 1) {
    for (ColumnConfig& column : columns) column.category = NO_CATEGORY;
  }
  database.tableInit("t", columns);
}

void query(ParserEngine& engine, const std::shared_ptr<Database>& database, const std::string& text) {
  try {
    QuerySet cursor(engine.executeSelect(text.c_str()), database);
    fuzz::readEveryCell(cursor);
  } catch (const DatabaseException&) {
  }
}

void queryAll(ParserEngine& engine, const std::shared_ptr<Database>& database, size_t columns) {
  const std::string last = "c" + std::to_string(columns - 1);
  query(engine, database, "select * from t order by c0 desc, " + last);
  query(engine, database, "select " + last + ", c0 from t where c0 >= 1 or " + last + " != 0 order by " + last);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Layout layout;
  if (!readLayout(data, size, layout)) return 0;
  fuzz::writeFile(kFileName, packed(data + layout.headerBytes, size - layout.headerBytes, layout.packing));
  fuzz::resetSettings();
  const fuzz::PoolBalance balance;
  {
    auto database = std::make_shared<Database>();
    CONFIG_LINES_THRESHOLD = layout.linesThreshold;
    ParserEngine engine(*database);
    bool created = true;
    try {
      createTable(*database, layout);
    } catch (const DatabaseException&) {
      created = false;
    }
    for (int load = 0; created && load < 2; ++load) {
      CONFIG_THREADS = load == 0 ? 1 : 4;
      try {
        database->loadFile("t", kFileName);
      } catch (const DatabaseException&) {
      }
      fuzz::checkTables(*database);
      queryAll(engine, database, layout.columns.size());
    }
    fuzz::checkTables(*database);
  }
  balance.check();
  fuzz::resetSettings();
  return 0;
}
