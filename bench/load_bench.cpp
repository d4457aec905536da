// Times loading rows whose every column value is distinct into a table
// created without tree levels: such a table can never become a tree, so
// this measures what the repeated rebuild attempts cost. Loads 200,000 and
// 400,000 rows (or the counts given) and prints the time of each and their
// ratio, which should stay near 2. Usage: load_bench [rows...].

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/column_config.h"
#include "catalogue/database.h"
#include "errors/database_exception.h"

namespace {

void writeDistinctRows(const std::string& path, unsigned rows) {
  std::ofstream out(path);
  out << "id,name,amount\n";
  char line[128];
  for (unsigned i = 0; i < rows; ++i) {
    std::snprintf(line, sizeof line, "%u,name%u,%u.25\n", i, i, i);
    out << line;
  }
}

double loadMilliseconds(const std::string& path) {
  Database database;
  database.tableInit("t", {ColumnConfig{"id", NO_CATEGORY, INT}, ColumnConfig{"name", NO_CATEGORY, STRING},
                           ColumnConfig{"amount", NO_CATEGORY, DOUBLE}});
  const auto start = std::chrono::steady_clock::now();
  database.loadFile("t", path);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  if (!database.getTreeTable(0).needsConfiguration) std::fprintf(stderr, "unexpected: table became a tree\n");
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<unsigned> counts;
  for (int arg = 1; arg < argc; ++arg) counts.push_back(static_cast<unsigned>(std::strtoul(argv[arg], nullptr, 10)));
  if (counts.empty()) counts = {200000, 400000};

  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("load_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  try {
    double first = 0;
    for (const unsigned rows : counts) {
      const std::string path = (directory / ("rows_" + std::to_string(rows) + ".csv")).string();
      writeDistinctRows(path, rows);
      double best = 0;
      for (int run = 0; run < 3; ++run) {
        const double ms = loadMilliseconds(path);
        best = run == 0 || ms < best ? ms : best;
      }
      if (first == 0) first = best;
      std::printf("%9u rows  %9.1f ms  %7.3f us/row  x%.2f\n", rows, best, 1000.0 * best / rows, best / first);
    }
  } catch (const DatabaseException& error) {
    std::fprintf(stderr, "%s\n", error.what());
    std::filesystem::remove_all(directory);
    return 1;
  }
  std::filesystem::remove_all(directory);
  return 0;
}
