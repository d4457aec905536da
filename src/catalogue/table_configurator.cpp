// Choosing tree levels from a sample of rows: every column starts a candidate
// and drops out once its distinct values outgrow the rows seen.

#include "catalogue/table_configurator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "catalogue/config.h"
#include "catalogue/short_text_set.h"
#include "catalogue/tail_sampler.h"
#include "errors/interruption.h"
#include "storage/column_map.h"
#include "storage/csv_reader.h"
#include "storage/string_column_map.h"
#include "storage/templated_class.h"

namespace {

// A column stays a tree level while its distinct values are within the
// threshold and their square within the rows.
bool staysCategorised(uint64_t distinctValues, unsigned int rows) {
  if (distinctValues > CONFIG_CATEGORY_THRESHOLD) return false;
  return 2.0 * std::log2(static_cast<double>(distinctValues)) <= std::log2(static_cast<double>(rows));
}

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
// with its length, which the map would otherwise measure again, and the
// short texts already met are told apart before the map looks them up; an
// integer, boolean or date is read where the reader stored it.
struct Candidate {
  unsigned short column;
  ColumnMapBase* map;
  StringColumnMap* texts;  // the map, when texts come from the CSV reader
  ShortTextSet* known;     // the short texts already in `texts`
  bool mayBeNull;          // the column is declared nullable
  bool stored;             // the CSV reader stores the column's values as it reads a row
};

// The remaining candidates as a flat list, in column order; `known` has a
// set per column.
std::vector<Candidate> candidatesOf(const std::map<unsigned short, ColumnMapBase*>& maps, const CSVReader* csv,
                                    std::vector<ShortTextSet>& known) {
  std::vector<Candidate> candidates;
  candidates.reserve(maps.size());
  for (const auto& [column, map] : maps) {
    const bool csvText = csv != nullptr && column < csv->types.size() && csv->types[column] == STRING;
    const bool nullable = csv != nullptr && column < csv->nullable.size() && csv->nullable[column] != 0;
    const bool stored = csv != nullptr && column < csv->types.size() && csv->isChecked(column);
    candidates.push_back(
        {column, map, csvText ? dynamic_cast<StringColumnMap*>(map) : nullptr, &known[column], nullable, stored});
  }
  return candidates;
}

// Adds the text of `candidate` in the current row of `csv` to its map,
// or sets its `sawNull` entry.
void sampleText(const CSVReader& csv, const Candidate& candidate, std::vector<unsigned char>& sawNull) {
  if (candidate.mayBeNull && csv.isNull(candidate.column)) {
    sawNull[candidate.column] = 1;
    return;
  }
  size_t length = 0;
  const char* const text = csv.getText(candidate.column, length);
  if (candidate.known->contains(text, length)) return;
  candidate.texts->addText(text, length, 0);
  candidate.known->add(text, length);
}

// Adds the integer, boolean or date of `candidate` in the current row of
// `csv` to its map, or sets its `sawNull` entry.
void sampleStored(const CSVReader& csv, const Candidate& candidate, std::vector<unsigned char>& sawNull) {
  if (candidate.mayBeNull && csv.isNull(candidate.column)) {
    sawNull[candidate.column] = 1;
    return;
  }
  candidate.map->add(const_cast<char*>(csv.checkedValue(candidate.column)), 0);
}

// Rows between two checks for candidates that the next cleaning is sure
// to drop.
constexpr unsigned int kEarlyDropRows = 64;

// Drops the candidates that are already unfit for `nextCleaning`, the row
// count of the next cleaning. Distinct counts only grow and a larger row count only
// keeps more, so each of them would be dropped there or, should the rows
// end before it, by the final cleaning: the outcome is the same, but a
// column with many distinct values stops costing map inserts after a few
// dozen rows instead of a whole interval. True when a map was dropped.
bool dropEarly(std::map<unsigned short, ColumnMapBase*>& maps, uint64_t nextCleaning,
               const std::vector<unsigned char>& sawNull) {
  const size_t before = maps.size();
  // The final cleaning counts at most UINT32_MAX rows.
  cleanColumnMaps(maps, static_cast<unsigned int>(std::min<uint64_t>(nextCleaning, UINT32_MAX)), sawNull);
  return maps.size() != before;
}

// Tells `tail` and `csv` (each when there is one) which columns are no
// candidate any more: the reader need not convert their values.
void markDropped(TailSampler* tail, CSVReader* csv, const std::map<unsigned short, ColumnMapBase*>& maps,
                 size_t columns) {
  for (unsigned short column = 0; column < columns; ++column) {
    if (maps.count(column) != 0) continue;
    if (tail != nullptr) tail->markDropped(column);
    if (csv != nullptr) csv->skipValues(column);
  }
}

// Records the values of the remaining candidates, row by row, and in
// `sawNull` (column -> 1) the columns that held a NULL; returns the number
// of rows sampled, counting on from `sampled`. Sampling ends at a cleaning
// that leaves no candidate, with the rows, or after the row that ends at or
// past byte `stopOffset` of a CSV file's text, where `rows` then stands.
// Each drop is passed on to `tail`, if any.
unsigned int sampleRows(DataIterator& rows, std::map<unsigned short, ColumnMapBase*>& maps,
                        std::vector<unsigned char>& sawNull, unsigned int sampled,
                        uint64_t stopOffset = UINT64_MAX, TailSampler* tail = nullptr) {
  // 64-bit so that a threshold near the 32-bit limit cannot wrap to 0.
  const uint64_t cleaningInterval = uint64_t{CONFIG_LINES_THRESHOLD} + 5;
  uint64_t nextCleaning = (sampled / cleaningInterval + 1) * cleaningInterval;
  CSVReader* const csv = dynamic_cast<CSVReader*>(&rows);
  std::vector<ShortTextSet> known(sawNull.size());
  // The rows between two cleanings go through a flat copy of the map.
  std::vector<Candidate> candidates = candidatesOf(maps, csv, known);
  do {
    for (const Candidate& candidate : candidates) {
      if (candidate.texts != nullptr) {
        sampleText(*csv, candidate, sawNull);
        continue;
      }
      if (candidate.stored) {
        sampleStored(*csv, candidate, sawNull);
        continue;
      }
      void* const value = rows.getPointer(candidate.column);
      if (value == nullptr) {
        sawNull[candidate.column] = 1;
      } else {
        candidate.map->add(value, 0);
      }
    }
    ++sampled;
    if (sampled % kRowsPerInterruptCheck == 0) checkInterrupt();
    if (sampled == nextCleaning) {
      nextCleaning += cleaningInterval;
      cleanColumnMaps(maps, sampled, sawNull);
      if (maps.empty()) break;
      candidates = candidatesOf(maps, csv, known);
      markDropped(tail, csv, maps, sawNull.size());
    } else if (sampled % kEarlyDropRows == 0 && dropEarly(maps, nextCleaning, sawNull)) {
      candidates = candidatesOf(maps, csv, known);
      markDropped(tail, csv, maps, sawNull.size());
    }
  } while ((csv == nullptr || csv->textOffset() < stopOffset) && rows.nextRow());
  return sampled;
}

// Adds to the candidates what the tail's records up to `upTo` brought: the
// values each column first showed there, from its `next` one on, and its
// NULL.
void addTailValues(std::map<unsigned short, ColumnMapBase*>& maps, const TailSampler& tail, uint64_t upTo,
                   std::vector<size_t>& next, std::vector<unsigned char>& sawNull) {
  for (const auto& [column, map] : maps) {
    const TailSampler::ColumnSample& sample = tail.column(column);
    size_t& first = next[column];
    for (; first < sample.firsts.size() && sample.firsts[first].row <= upTo; ++first) {
      map->add(const_cast<char*>(sample.values.data() + sample.firsts[first].begin), 0);
    }
    if (sample.firstNull != 0 && sample.firstNull <= upTo) sawNull[column] = 1;
  }
}

// Goes on from the `sampled` rows before the tail with the tail's records,
// cleaning at the same rows as a reading of them one by one would;
// returns the number of rows sampled in all.
unsigned int replayTail(const TailSampler& tail, std::map<unsigned short, ColumnMapBase*>& maps,
                        std::vector<unsigned char>& sawNull, unsigned int sampled) {
  const uint64_t cleaningInterval = uint64_t{CONFIG_LINES_THRESHOLD} + 5;
  const uint64_t total = uint64_t{sampled} + tail.rows();
  std::vector<size_t> next(sawNull.size(), 0);
  for (uint64_t cleaning = (sampled / cleaningInterval + 1) * cleaningInterval; cleaning <= total;
       cleaning += cleaningInterval) {
    addTailValues(maps, tail, cleaning - sampled, next, sawNull);
    cleanColumnMaps(maps, static_cast<unsigned int>(cleaning), sawNull);
    if (maps.empty()) return static_cast<unsigned int>(cleaning);
  }
  addTailValues(maps, tail, tail.rows(), next, sawNull);
  return static_cast<unsigned int>(total);
}

// Smallest file whose second half is sampled on a thread of its own.
constexpr uint64_t kMinSplitBytes = 64 * 1024;

// Bytes of the CSV file `rows` reads when its second half is worth a
// thread of its own: plain text, at least kMinSplitBytes, threads allowed.
// 0 otherwise.
uint64_t splitSize(const CSVReader* csv) {
  if (csv == nullptr || CONFIG_THREADS < 2 || csv->compressed()) return 0;
  std::error_code error;
  if (!std::filesystem::is_regular_file(csv->fileName, error)) return 0;
  const uintmax_t bytes = std::filesystem::file_size(csv->fileName, error);
  if (error || bytes < kMinSplitBytes || bytes > UINT32_MAX * uint64_t{4}) return 0;
  return bytes;
}

// Samples a CSV file in two halves, the second on a thread of its own,
// when it is worth it, else in one reading; returns the rows sampled. The
// outcome is that of one reading: where the halves cannot be told apart
// for sure (a quoted field across the middle), or the second half fails,
// the calling thread reads on itself from the middle.
unsigned int sampleFile(DataIterator& rows, std::map<unsigned short, ColumnMapBase*>& maps,
                        std::vector<unsigned char>& sawNull) {
  CSVReader* const csv = dynamic_cast<CSVReader*>(&rows);
  const uint64_t bytes = splitSize(csv);
  if (bytes == 0) return sampleRows(rows, maps, sawNull, 0);
  std::unique_ptr<TailSampler> tail;
  const uint64_t middle = bytes / 2;
  try {
    tail = std::make_unique<TailSampler>(csv->fileName, csv->types, csv->separator(), csv->nullable, middle - 1);
  } catch (const std::system_error&) {
    return sampleRows(rows, maps, sawNull, 0);
  }
  unsigned int sampled = sampleRows(rows, maps, sawNull, 0, middle, tail.get());
  if (maps.empty() || csv->textOffset() < middle) return sampled;
  if (tail->finish() && tail->start() == csv->textOffset()) return replayTail(*tail, maps, sawNull, sampled);
  tail.reset();
  if (!rows.nextRow()) return sampled;
  return sampleRows(rows, maps, sawNull, sampled);
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
  const unsigned int sampled = sampleFile(*rows, table->columnMaps, sawNull);
  cleanColumnMaps(table->columnMaps, sampled, sawNull);
  table->init(types, categoryOrder(table->columnMaps, sawNull), nullable);
  return table.release();
}

void cleanColumnMaps(std::map<unsigned short, ColumnMapBase*>& maps, unsigned int rows,
                     const std::vector<unsigned char>& sawNull) {
  for (auto entry = maps.begin(); entry != maps.end();) {
    const bool null = entry->first < sawNull.size() && sawNull[entry->first] != 0;
    if (staysCategorised(entry->second->getSize() + (null ? 1 : 0), rows)) {
      ++entry;
      continue;
    }
    delete entry->second;
    entry = maps.erase(entry);
  }
}
