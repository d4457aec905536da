// Sampling the second part of a CSV file on a thread of its own, recording
// where each value first appears so the cleanings can be replayed.

#include "catalogue/tail_sampler.h"

#include <chrono>
#include <memory>
#include <utility>

#include "catalogue/config.h"
#include "catalogue/short_text_set.h"
#include "catalogue/table_configurator.h"
#include "errors/interruption.h"
#include "storage/column_map_base.h"
#include "storage/csv_reader.h"
#include "storage/string_column_map.h"

namespace {

// Records between two looks at the columns still worth recording and at
// whether the owner asked to stop.
constexpr uint32_t kRefreshRows = 64;

// Records the value of `column` in the current record of `reader`, with
// `row`, when `seen` (the column's distinct values so far; `known`, its
// short texts) does not hold it.
void recordValue(CSVReader& reader, unsigned short column, uint32_t row, ColumnMapBase& seen, ShortTextSet& known,
                 TailSampler::ColumnSample& sample) {
  const bool nullable = column < reader.nullable.size() && reader.nullable[column] != 0;
  if (nullable && reader.isNull(column)) {
    if (sample.firstNull == 0) sample.firstNull = row;
    return;
  }
  if (reader.types[column] == STRING) {
    size_t length = 0;
    const char* const text = reader.getText(column, length);
    if (known.contains(text, length) || !static_cast<StringColumnMap&>(seen).addText(text, length, 0)) return;
    known.add(text, length);
    sample.firsts.push_back({row, static_cast<uint32_t>(sample.values.size())});
    sample.values.append(text, length);
    sample.values.push_back('\0');
    return;
  }
  // An integer, boolean or date is read where the reader stored it.
  void* const value =
      reader.isChecked(column) ? const_cast<char*>(reader.checkedValue(column)) : reader.getPointer(column);
  if (!seen.add(value, 0)) return;
  sample.firsts.push_back({row, static_cast<uint32_t>(sample.values.size())});
  sample.values.append(static_cast<const char*>(value), getTypeWidth(reader.types[column]));
}

}  // namespace

TailSampler::TailSampler(std::string fileName, std::vector<DATA_TYPE> types, char separator,
                         std::vector<unsigned char> nullable, uint64_t offset)
    : fileName_(std::move(fileName)),
      types_(std::move(types)),
      separator_(separator),
      nullable_(std::move(nullable)),
      offset_(offset),
      dropped_(types_.size()),
      columns_(types_.size()) {
  done_ = std::async(std::launch::async, [this] { run(); });
}

TailSampler::~TailSampler() {
  stop_.store(true, std::memory_order_relaxed);
  if (done_.valid()) done_.wait();
}

bool TailSampler::finish() {
  while (done_.wait_for(std::chrono::milliseconds(kInterruptWaitMilliseconds)) != std::future_status::ready) {
    checkInterrupt();
  }
  return complete_;
}

void TailSampler::run() noexcept {
  try {
    CSVReader reader;
    reader.prepare(types_, separator_, nullable_);
    reader.openFileAfter(fileName_, offset_);
    start_ = reader.textOffset();
    std::vector<std::unique_ptr<ColumnMapBase>> seen;
    std::vector<ShortTextSet> known(types_.size());
    std::vector<unsigned short> live;
    for (unsigned short column = 0; column < types_.size(); ++column) {
      seen.emplace_back(createColumnMap(types_[column]));
      live.push_back(column);
    }
    uint32_t row = 0;
    while (reader.nextRow()) {
      ++row;
      for (const unsigned short column : live) {
        recordValue(reader, column, row, *seen[column], known[column], columns_[column]);
      }
      if (row % kRefreshRows != 0) continue;
      if (stop_.load(std::memory_order_relaxed)) return;
      std::erase_if(live, [&](unsigned short column) {
        const bool drop = dropped_[column].load(std::memory_order_relaxed) != 0 ||
                          seen[column]->getSize() > CONFIG_CATEGORY_THRESHOLD;
        if (drop) reader.skipValues(column);
        return drop;
      });
    }
    rows_ = row;
    complete_ = true;
  } catch (...) {
    complete_ = false;
  }
}
