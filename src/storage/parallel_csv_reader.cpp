// Reading a CSV file with the cutting and converting of its records done
// on other threads, the rows taken in file order.

#include "storage/parallel_csv_reader.h"

#include <chrono>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

#include "errors/interruption.h"
#include "errors/string_format.h"

namespace {

// Batches in flight per converting thread: one being converted, one
// waiting for it, and one more so that a slow batch does not stall the rest.
constexpr size_t kBatchesPerConverter = 3;

// Longest wait for a batch between two interrupt checks.
constexpr std::chrono::milliseconds kBatchWait{kInterruptWaitMilliseconds};

}  // namespace

ParallelCSVReader::ParallelCSVReader(const std::string& fileName, const std::vector<DATA_TYPE>& types,
                                     char separator, const std::vector<unsigned char>& nullable,
                                     const std::vector<std::string>& names, unsigned converters)
    : fileName_(fileName), window_(kBatchesPerConverter * converters + 1) {
  for (unsigned made = 0; made < converters; ++made) {
    auto reader = std::make_unique<CSVReader>();
    reader->prepare(types, separator, nullable);
    reader->setColumnNames(names);
    reader->fileName = fileName;
    readers_.push_back(std::move(reader));
  }
  config_ = readers_.front()->config;
  textColumns_ = config_.numStrings;
  cutter_.open(fileName, separator);
  try {
    threads_.reserve(converters + 1);
    threads_.emplace_back(&ParallelCSVReader::cutFile, this);
    for (const std::unique_ptr<CSVReader>& reader : readers_) {
      threads_.emplace_back(&ParallelCSVReader::convert, this, std::ref(*reader));
    }
  } catch (const std::system_error&) {
    // A thread that cannot start lacks memory for its stack.
    stop();
    throw std::bad_alloc();
  }
}

ParallelCSVReader::~ParallelCSVReader() { stop(); }

void ParallelCSVReader::stop() {
  stopping_.store(true, std::memory_order_relaxed);
  window_.close();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void ParallelCSVReader::cutFile() {
  // A read that waits for data ends when the reader stops.
  InterruptScope scope(&stopping_, nullptr, nullptr);
  for (;;) {
    std::unique_ptr<RowBatch> batch = window_.emptyBatch();
    if (batch == nullptr) return;
    bool more = false;
    try {
      more = cutter_.cut(batch->text, batch->textBytes, batch->linesBefore);
    } catch (...) {
      batch->failure = std::current_exception();
    }
    if (!more && batch->failure == nullptr) {
      window_.recycle(std::move(batch));
      break;
    }
    window_.cut(std::move(batch));
    if (!more) break;
  }
  window_.endCutting();
}

void ParallelCSVReader::convert(CSVReader& reader) {
  uint64_t sequence = 0;
  while (std::unique_ptr<RowBatch> batch = window_.toConvert(sequence)) {
    if (batch->failure == nullptr) convertBatch(reader, *batch);
    window_.converted(sequence, std::move(batch));
  }
}

void ParallelCSVReader::convertBatch(CSVReader& reader, RowBatch& batch) {
  // The texts' sizes are known here; the loading thread would otherwise
  // measure every text again.
  const size_t textColumns = reader.config.numStrings;
  std::vector<const char*> texts(textColumns);
  std::vector<size_t> sizes(textColumns);
  try {
    reader.readText(batch.text, batch.textBytes, batch.linesBefore);
    while (reader.nextRow()) {
      reader.getRowView();
      batch.rows.insert(batch.rows.end(), reader.start(), reader.position);
      batch.rowEnds.push_back(batch.rows.size());
      batch.rowLines.push_back(reader.recordLineNumber());
      reader.getTexts(texts.data(), sizes.data());
      for (const size_t size : sizes) batch.textSizes.push_back(static_cast<uint32_t>(size));
    }
  } catch (...) {
    batch.failure = std::current_exception();
  }
}

bool ParallelCSVReader::nextRow() {
  if (batch_ != nullptr && ++row_ < batch_->rowEnds.size()) {
    char* const rows = batch_->rows.data();
    rowView_.reset(rows + batch_->rowEnds[row_ - 1], rows + batch_->rowEnds[row_], &config_, 0);
    return true;
  }
  if (!nextBatch()) return false;
  row_ = 0;
  rowView_.reset(batch_->rows.data(), batch_->rows.data() + batch_->rowEnds[0], &config_, 0);
  return true;
}

bool ParallelCSVReader::nextBatch() {
  for (;;) {
    if (batch_ != nullptr) {
      if (batch_->failure != nullptr) std::rethrow_exception(batch_->failure);
      window_.recycle(std::move(batch_));
    }
    bool ended = false;
    while ((batch_ = window_.next(kBatchWait, ended)) == nullptr) {
      if (ended) return false;
      checkInterrupt();
    }
    if (!batch_->rowEnds.empty()) return true;
  }
}

void ParallelCSVReader::getTexts(const char** texts, size_t* bytes) const {
  const char* text = rowView_.current + config_.fixedWidth;
  const uint32_t* const sizes = batch_->textSizes.data() + row_ * textColumns_;
  for (unsigned short column = 0; column < textColumns_; ++column) {
    texts[column] = text;
    bytes[column] = sizes[column];
    text += sizes[column];
  }
}

std::string ParallelCSVReader::where() const {
  return string_format(", line %llu of %s", static_cast<unsigned long long>(batch_->rowLines[row_]),
                       fileName_.c_str());
}
