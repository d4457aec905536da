// Reading a CSV file with the cutting and converting of its records done
// on other threads, the rows taken in file order.

#include "storage/parallel_csv_reader.h"

#include <chrono>
#include <cstring>
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
  read_ = std::make_unique<std::atomic<unsigned char>[]>(types.size());
  for (size_t column = 0; column < types.size(); ++column) read_[column].store(1, std::memory_order_relaxed);
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
    if (batch->failure == nullptr) {
      if (narrowed_.load(std::memory_order_relaxed)) {
        convertRead(reader, *batch);
      } else {
        convertBatch(reader, *batch);
      }
    }
    window_.converted(sequence, std::move(batch));
  }
}

void ParallelCSVReader::convertBatch(CSVReader& reader, RowBatch& batch) {
  try {
    reader.readText(batch.text, batch.textBytes, batch.linesBefore);
    while (reader.nextRow()) {
      reader.getRowView();
      batch.rows.insert(batch.rows.end(), reader.start(), reader.position);
      batch.rowEnds.push_back(batch.rows.size());
      batch.rowLines.push_back(reader.recordLineNumber());
    }
  } catch (...) {
    batch.failure = std::current_exception();
  }
}

void ParallelCSVReader::convertRead(CSVReader& reader, RowBatch& batch) const {
  // The columns read when the batch starts: a later readOnly only narrows
  // them, so the rows still hold every column the consumer reads.
  std::vector<unsigned char> read(reader.numColumns);
  std::vector<unsigned short> numbers;
  for (unsigned short column = 0; column < reader.numColumns; ++column) {
    read[column] = read_[column].load(std::memory_order_relaxed);
    if (read[column] != 0 && isFloating(reader.types[column])) numbers.push_back(column);
  }
  try {
    reader.readText(batch.text, batch.textBytes, batch.linesBefore);
    while (reader.nextRow()) appendRead(reader, batch, read, numbers);
  } catch (...) {
    batch.failure = std::current_exception();
  }
}

void ParallelCSVReader::appendRead(CSVReader& reader, RowBatch& batch, const std::vector<unsigned char>& read,
                                   const std::vector<unsigned short>& numbers) {
  for (const unsigned short column : numbers) reader.getPointer(column);
  const char* const fixed = reader.start();
  batch.rows.insert(batch.rows.end(), fixed, fixed + reader.config.fixedWidth);
  for (unsigned short column = 0; column < reader.numColumns; ++column) {
    if (reader.types[column] != STRING) continue;
    size_t length = 0;
    const char* const text = read[column] != 0 ? reader.getText(column, length) : "";
    batch.rows.insert(batch.rows.end(), text, text + length);
    batch.rows.push_back('\0');
  }
  batch.rowEnds.push_back(batch.rows.size());
  batch.rowLines.push_back(reader.recordLineNumber());
}

void ParallelCSVReader::readOnly(const std::vector<unsigned short>& columns) {
  std::vector<unsigned char> keep(readers_.front()->numColumns);
  for (const unsigned short column : columns) keep[column] = 1;
  for (size_t column = 0; column < keep.size(); ++column) {
    if (keep[column] == 0) read_[column].store(0, std::memory_order_relaxed);
  }
  narrowed_.store(true, std::memory_order_relaxed);
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
  for (unsigned short column = 0; column < textColumns_; ++column) {
    texts[column] = text;
    bytes[column] = std::strlen(text) + 1;
    text += bytes[column];
  }
}

std::string ParallelCSVReader::where() const {
  return string_format(", line %llu of %s", static_cast<unsigned long long>(batch_->rowLines[row_]),
                       fileName_.c_str());
}
