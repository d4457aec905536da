// Times loading a generated 1,000,000-row CSV file into a tree table, the
// way a LOAD into a table created with category numbers does: the CSV
// reader's rows go one by one into TreeTable::addRow. The table has an int,
// a double, two low-cardinality texts, a high-cardinality text and a date;
// the two low-cardinality texts and the date are tree levels. Prints the
// best of three runs in rows/s and MB/s of CSV, and the time of reading the
// file alone for comparison. Usage: storage_bench [rows].

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "storage/column_map.h"
#include "storage/csv_reader.h"
#include "storage/string_column_map.h"
#include "storage/templated_class.h"
#include "storage/tree_table.h"

namespace {

const std::vector<DATA_TYPE> kTypes{INT, DOUBLE, STRING, STRING, STRING, DATE};

// Writes the file and answers its size in bytes.
size_t writeCsv(const std::string& path, unsigned rows) {
  static const char* const cities[] = {"Amsterdam", "Berlin",  "Cairo",   "Dakar",  "Edinburgh",
                                       "Florence",  "Geneva",  "Hanoi",   "Istanbul", "Jakarta",
                                       "Kyoto",     "Lima",    "Madrid",  "Nairobi", "Oslo",
                                       "Prague",    "Quito",   "Riga",    "Seoul",  "Tunis"};
  static const char* const kinds[] = {"food", "rent", "travel", "books", "tools", "music", "sport", "health"};
  std::mt19937 random(42);
  FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) throw DatabaseException("Unable to write file %s", path.c_str());
  std::fprintf(out, "id,amount,city,kind,note,day\n");
  for (unsigned i = 0; i < rows; ++i) {
    const unsigned day = random() % 365;
    std::fprintf(out, "%u,%.2f,%s,%s,note-%08x-%u,%s\n", i, (random() % 1000000) / 100.0,
                 cities[random() % 20], kinds[random() % 8], static_cast<unsigned>(random()), i,
                 intToDateString(static_cast<unsigned short>(18262 + day)).c_str());
  }
  const long size = std::ftell(out);
  std::fclose(out);
  return static_cast<size_t>(size);
}

ColumnMapBase* makeMap(DATA_TYPE type) {
  if (type == STRING) return new StringColumnMap();
  return static_cast<ColumnMapBase*>(createTemplatedClass<ColumnMap>(type));
}

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double readOnly(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  CSVReader reader;
  reader.init(path, kTypes);
  while (reader.nextRow()) {
  }
  return seconds(start);
}

double loadTree(const std::string& path, unsigned expectedRows, std::string& statistics) {
  const auto start = std::chrono::steady_clock::now();
  TreeTable table;
  const std::vector<unsigned short> order{3, 2, 5};  // kind, city, day
  for (const unsigned short column : order) table.columnMaps[column] = makeMap(kTypes[column]);
  table.init(kTypes, order);
  CSVReader reader;
  reader.init(path, kTypes);
  while (reader.nextRow()) table.addRow(reader.getRowView());
  const double elapsed = seconds(start);
  if (table.numRows != expectedRows) std::fprintf(stderr, "unexpected row count %u\n", table.numRows);
  statistics = table.getStatistics();
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned rows = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const std::string path = "/tmp/storage_bench_" + std::to_string(getpid()) + ".csv";
  try {
    const size_t bytes = writeCsv(path, rows);
    double bestRead = 0;
    double bestLoad = 0;
    std::string statistics;
    for (int run = 0; run < 3; ++run) {
      const double read = readOnly(path);
      const double load = loadTree(path, rows, statistics);
      bestRead = run == 0 || read < bestRead ? read : bestRead;
      bestLoad = run == 0 || load < bestLoad ? load : bestLoad;
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("CSV file: %u rows, %.1f MB\n", rows, megabytes);
    std::printf("read only:       %7.3f s  %10.0f rows/s  %7.1f MB/s\n", bestRead, rows / bestRead,
                megabytes / bestRead);
    std::printf("read into tree:  %7.3f s  %10.0f rows/s  %7.1f MB/s\n", bestLoad, rows / bestLoad,
                megabytes / bestLoad);
    std::printf("tree: %s\n", statistics.c_str());
  } catch (const DatabaseException& error) {
    std::fprintf(stderr, "%s\n", error.what());
    std::remove(path.c_str());
    return 1;
  }
  std::remove(path.c_str());
  return 0;
}
