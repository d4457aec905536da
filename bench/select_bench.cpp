// Times single-table queries on a generated 1,000,000-row table: a
// selective equality on a categorised column, a range on a plain double, a
// three-condition where clause with brackets, and that clause sorted by a
// double key and by a text key; then the table joined on its text key with
// a 50-row dimension table, filtered on a dimension column, unsorted and
// sorted. Usage: select_bench [rows] [directory].

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "databaseparser/database_parser.h"
#include "errors/database_exception.h"

namespace {

void writeData(const std::string& path, unsigned rows) {
  std::ofstream out(path);
  out << "id,region,product,day,units,amount,note\n";
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> region(0, 49);
  std::uniform_int_distribution<int> product(0, 199);
  std::uniform_int_distribution<int> day(0, 364);
  std::uniform_int_distribution<int> units(1, 100);
  std::uniform_real_distribution<double> amount(0.0, 10000.0);
  std::uniform_int_distribution<int> note(0, 999999);
  char line[256];
  for (unsigned i = 0; i < rows; ++i) {
    const int d = day(random);
    std::snprintf(line, sizeof line, "%u,r%02d,p%03d,2024-%02d-%02d,%d,%.2f,n%06d\n", i,
                  region(random), product(random), d / 28 % 12 + 1, d % 28 + 1, units(random),
                  amount(random), note(random));
    out << line;
  }
}

// The dimension table: one row per region r00 .. r49 with its manager, a
// zone z0 .. z4 and a target.
void writeRegions(const std::string& path) {
  std::ofstream out(path);
  out << "region,manager,zone,target\n";
  for (int region = 0; region < 50; ++region) {
    char line[64];
    std::snprintf(line, sizeof line, "r%02d,m%02d,z%d,%d\n", region, region, region % 5,
                  1000 + 10 * region);
    out << line;
  }
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

void timeQuery(DatabaseParser& db, const char* label, const std::string& query) {
  constexpr int kRuns = 3;
  double best = 0;
  unsigned rows = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    QuerySet result = db.executeSelect(query.c_str());
    const double ms = millisecondsSince(start);
    rows = result.getNumberOfRows();
    best = run == 0 || ms < best ? ms : best;
  }
  std::printf("%-44s %9.1f ms  %8u rows\n", label, best, rows);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned rows = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const std::filesystem::path directory =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  const std::string path = (directory / "select_bench.csv").string();
  const std::string regionsPath = (directory / "select_bench_regions.csv").string();
  const auto removeFiles = [&] {
    std::filesystem::remove(path);
    std::filesystem::remove(regionsPath);
  };
  try {
    writeData(path, rows);
    writeRegions(regionsPath);
    DatabaseParser db;
    const auto start = std::chrono::steady_clock::now();
    db.executeCommand(
        "create table sales (id int, region string cat 1, product string cat 2, day date, "
        "units short, amount double, note string)");
    db.executeCommand(("load sales from '" + path + "'").c_str());
    std::printf("%-44s %9.1f ms  %8u rows\n", "load", millisecondsSince(start), rows);

    const std::string where =
        " where (region = r07 or region = r12) and amount > 5000";
    timeQuery(db, "equality on a categorised column",
              "select id, amount from sales where region = r07");
    timeQuery(db, "range on a plain double",
              "select id, amount from sales where amount >= 1000 and amount < 1100");
    timeQuery(db, "three conditions with brackets", "select id, amount from sales" + where);
    timeQuery(db, "same, order by double key",
              "select id, amount from sales" + where + " order by amount desc");
    timeQuery(db, "same, order by text key",
              "select id, amount from sales" + where + " order by note");

    db.executeCommand("create table regions (region string, manager string, zone string, "
                      "target int)");
    db.executeCommand(("load regions from '" + regionsPath + "'").c_str());
    const std::string join =
        "select id, manager, amount from sales join regions on region = region where zone = z3";
    timeQuery(db, "join on a text key, where on the dimension", join);
    timeQuery(db, "same, order by double key", join + " order by amount desc");
    timeQuery(db, "join without where (every fact row)",
              "select id, manager from sales join regions on region = region");
  } catch (const DatabaseException& e) {
    std::fprintf(stderr, "%s\n", e.what());
    removeFiles();
    return 1;
  }
  removeFiles();
  return 0;
}
