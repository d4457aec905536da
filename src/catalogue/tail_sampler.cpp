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

// One column still recorded: how the reader holds its values, its
// distinct values so far (`seen`; `known`, its short texts) and what the
// tail showed of it.
struct Recorded {
  unsigned short column;
  bool nullable;  // the column is declared nullable
  bool text;      // a text column: its texts come with their length
  bool checked;   // the reader stores its values as it reads a record
  ColumnMapBase* seen;
  ShortTextSet* known;
  TailSampler::ColumnSample* sample;
};

// Records the value of `recorded` in the current record of `reader`, with
// `row`, when its `seen` values do not hold it.
void recordValue(CSVReader& reader, const Recorded& recorded, uint32_t row) {
  TailSampler::ColumnSample& sample = *recorded.sample;
  if (recorded.nullable && reader.isNull(recorded.column)) {
    if (sample.firstNull == 0) sample.firstNull = row;
    return;
  }
  if (recorded.text) {
    size_t length = 0;
    const char* const text = reader.getText(recorded.column, length);
    if (recorded.known->contains(text, length) ||
        !static_cast<StringColumnMap*>(recorded.seen)->addText(text, length, 0)) {
      return;
    }
    recorded.known->add(text, length);
    sample.firsts.push_back({row, static_cast<uint32_t>(sample.values.size())});
    sample.values.append(text, length);
    sample.values.push_back('\0');
    return;
  }
  // An integer, boolean or date is read where the reader stored it.
  void* const value = recorded.checked ? const_cast<char*>(reader.checkedValue(recorded.column))
                                       : reader.getPointer(recorded.column);
  if (!recorded.seen->add(value, 0)) return;
  sample.firsts.push_back({row, static_cast<uint32_t>(sample.values.size())});
  sample.values.append(static_cast<const char*>(value), getTypeWidth(reader.types[recorded.column]));
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
    std::vector<Recorded> live;
    for (unsigned short column = 0; column < types_.size(); ++column) {
      seen.emplace_back(createColumnMap(types_[column]));
      const bool nullable = column < nullable_.size() && nullable_[column] != 0;
      live.push_back({column, nullable, types_[column] == STRING, reader.isChecked(column), seen.back().get(),
                      &known[column], &columns_[column]});
    }
    uint32_t row = 0;
    while (reader.nextRow()) {
      ++row;
      for (const Recorded& recorded : live) recordValue(reader, recorded, row);
      if (row % kRefreshRows != 0) continue;
      if (stop_.load(std::memory_order_relaxed)) return;
      std::erase_if(live, [&](const Recorded& recorded) {
        const bool drop = dropped_[recorded.column].load(std::memory_order_relaxed) != 0 ||
                          recorded.seen->getSize() > CONFIG_CATEGORY_THRESHOLD;
        if (drop) reader.skipValues(recorded.column);
        return drop;
      });
    }
    rows_ = row;
    complete_ = true;
  } catch (...) {
    complete_ = false;
  }
}
