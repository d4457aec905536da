// Choosing tree levels from a sample of rows: every column starts a candidate
// and drops out once its distinct values outgrow the rows seen.

#include "catalogue/table_configurator.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "catalogue/config.h"
#include "errors/interruption.h"
#include "storage/column_map.h"
#include "storage/csv_reader.h"
#include "storage/string_column_map.h"
#include "storage/templated_class.h"

namespace {

// Gives every column of the table an empty candidate map.
void addCandidateMaps(TreeTable& table, const std::vector<DATA_TYPE>& types) {
  for (size_t column = 0; column < types.size(); ++column) {
    std::unique_ptr<ColumnMapBase> map(createColumnMap(types[column]));
    table.columnMaps.emplace(static_cast<unsigned short>(column), map.get());
    map.release();
  }
}

// One remaining candidate. When the rows come from a CSV file and the
// column is a text column with a text map, the reader hands over each text
// with its length, which the map would otherwise measure again.
struct Candidate {
  unsigned short column;
  ColumnMapBase* map;
  StringColumnMap* texts;  // the map, when texts come from the CSV reader
};

// The remaining candidates as a flat list, in column order.
std::vector<Candidate> candidatesOf(const std::map<unsigned short, ColumnMapBase*>& maps, const CSVReader* csv) {
  std::vector<Candidate> candidates;
  candidates.reserve(maps.size());
  for (const auto& [column, map] : maps) {
    const bool csvText = csv != nullptr && column < csv->types.size() && csv->types[column] == STRING;
    candidates.push_back({column, map, csvText ? dynamic_cast<StringColumnMap*>(map) : nullptr});
  }
  return candidates;
}

// Rows between two checks for candidates that the next cleaning is sure
// to drop.
constexpr unsigned int kEarlyDropRows = 64;

// Drops the candidates that are already unfit for the row count of the
// next cleaning. Distinct counts only grow and a larger row count only
// keeps more, so each of them would be dropped there or, should the rows
// end before it, by the final cleaning: the outcome is the same, but a
// column with many distinct values stops costing map inserts after a few
// dozen rows instead of a whole interval. True when a map was dropped.
bool dropEarly(std::map<unsigned short, ColumnMapBase*>& maps, unsigned int sampled, uint64_t cleaningInterval,
               const std::vector<unsigned char>& sawNull) {
  const uint64_t nextCleaning = (sampled / cleaningInterval + 1) * cleaningInterval;
  const size_t before = maps.size();
  // The final cleaning counts at most UINT32_MAX rows.
  cleanColumnMaps(maps, static_cast<unsigned int>(std::min<uint64_t>(nextCleaning, UINT32_MAX)), sawNull);
  return maps.size() != before;
}

// Records the values of the remaining candidates, row by row, and in
// `sawNull` (column -> 1) the columns that held a NULL; returns the number
// of rows sampled. Sampling ends at a cleaning that leaves no candidate, or
// with the rows.
unsigned int sampleRows(DataIterator& rows, std::map<unsigned short, ColumnMapBase*>& maps,
                        std::vector<unsigned char>& sawNull) {
  // 64-bit so that a threshold near the 32-bit limit cannot wrap to 0.
  const uint64_t cleaningInterval = uint64_t{CONFIG_LINES_THRESHOLD} + 5;
  const CSVReader* const csv = dynamic_cast<const CSVReader*>(&rows);
  // The rows between two cleanings go through a flat copy of the map.
  std::vector<Candidate> candidates = candidatesOf(maps, csv);
  unsigned int sampled = 0;
  do {
    for (const Candidate& candidate : candidates) {
      if (candidate.texts == nullptr) {
        void* const value = rows.getPointer(candidate.column);
        if (value == nullptr) {
          sawNull[candidate.column] = 1;
        } else {
          candidate.map->add(value, 0);
        }
        continue;
      }
      if (csv->isNull(candidate.column)) {
        sawNull[candidate.column] = 1;
        continue;
      }
      size_t length = 0;
      const char* const text = csv->getText(candidate.column, length);
      candidate.texts->addText(text, length, 0);
    }
    ++sampled;
    if (sampled % kRowsPerInterruptCheck == 0) checkInterrupt();
    if (sampled % cleaningInterval == 0) {
      cleanColumnMaps(maps, sampled, sawNull);
      if (maps.empty()) break;
      candidates = candidatesOf(maps, csv);
    } else if (sampled % kEarlyDropRows == 0 && dropEarly(maps, sampled, cleaningInterval, sawNull)) {
      candidates = candidatesOf(maps, csv);
    }
  } while (rows.nextRow());
  return sampled;
}

// Numbers the surviving maps and orders their columns by ascending
// distinct count (a NULL counting as a value), then by column number.
std::vector<unsigned short> categoryOrder(std::map<unsigned short, ColumnMapBase*>& maps,
                                          const std::vector<unsigned char>& sawNull) {
  std::vector<std::pair<uint64_t, unsigned short>> bySize;
  for (const auto& [column, map] : maps) {
    map->recalculatePositions();
    bySize.emplace_back(map->getSize() + sawNull[column], column);
  }
  std::sort(bySize.begin(), bySize.end());
  std::vector<unsigned short> order;
  order.reserve(bySize.size());
  for (const auto& entry : bySize) order.push_back(entry.second);
  return order;
}

}  // namespace

ColumnMapBase* createColumnMap(DATA_TYPE type) {
  if (type == STRING) return new StringColumnMap();
  return static_cast<ColumnMapBase*>(createTemplatedClass<ColumnMap>(type));
}

TreeTable* configTreeTableFromDataIterator(DataIterator* rows, const std::vector<DATA_TYPE>& types,
                                           const std::vector<unsigned char>& nullable) {
  auto table = std::make_unique<TreeTable>();
  addCandidateMaps(*table, types);
  std::vector<unsigned char> sawNull(types.size(), 0);
  const unsigned int sampled = sampleRows(*rows, table->columnMaps, sawNull);
  cleanColumnMaps(table->columnMaps, sampled, sawNull);
  table->init(types, categoryOrder(table->columnMaps, sawNull), nullable);
  return table.release();
}
