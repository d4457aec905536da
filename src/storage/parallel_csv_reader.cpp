// Reading a CSV file with the cutting and converting of its records done
// on other threads, the rows taken in file order.

#include "storage/parallel_csv_reader.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

#include "errors/interruption.h"
#include "errors/string_format.h"
#include "storage/text_bytes.h"

namespace {

// Rows of room a batch's row vectors get first; they double as needed.
constexpr size_t kFirstRoomRows = 1024;

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
  for (unsigned made = 0; made < converters; ++made) readers_.push_back(makeReader(types, separator, nullable, names));
  ownReader_ = makeReader(types, separator, nullable, names);
  config_ = ownReader_->config;
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

std::unique_ptr<CSVReader> ParallelCSVReader::makeReader(const std::vector<DATA_TYPE>& types, char separator,
                                                         const std::vector<unsigned char>& nullable,
                                                         const std::vector<std::string>& names) const {
  auto reader = std::make_unique<CSVReader>();
  reader->prepare(types, separator, nullable);
  reader->setColumnNames(names);
  reader->fileName = fileName_;
  return reader;
}

void ParallelCSVReader::convertBatch(CSVReader& reader, RowBatch& batch) {
  const size_t fixedWidth = reader.config.fixedWidth;
  const size_t textColumns = reader.config.numStrings;
  // Capacity for a whole batch at once, touched only as rows need it; a
  // byte more, so that rows without fixed-width values still lie at an
  // address.
  batch.fixed.reserve(fixedWidth * RecordCutter::kBatchRecords + 1);
  batch.texts.reserve(textColumns * RecordCutter::kBatchRecords);
  batch.rowLines.reserve(RecordCutter::kBatchRecords);
  try {
    reader.readText(batch.text, batch.textBytes, batch.linesBefore);
    // Each row is copied to its place in the room of the row vectors,
    // which a reused batch keeps.
    for (size_t row = 0; reader.nextRow(); ++row) {
      if (row == batch.room) makeRoom(batch, std::max<size_t>(2 * row, kFirstRoomRows), fixedWidth, textColumns);
      text_bytes::copy(batch.fixed.data() + row * fixedWidth, reader.getFixedView().current, fixedWidth);
      reader.getTexts(batch.texts.data() + row * textColumns);
      batch.rowLines.push_back(reader.recordLineNumber());
    }
  } catch (...) {
    batch.failure = std::current_exception();
  }
  // The texts handed out lie in the records' text, which goes back to the
  // batch with them.
  reader.closeText(batch.text);
}

void ParallelCSVReader::makeRoom(RowBatch& batch, size_t rows, size_t fixedWidth, size_t textColumns) {
  batch.fixed.resize(fixedWidth * rows + 1);
  batch.texts.resize(textColumns * rows);
  batch.room = rows;
}

bool ParallelCSVReader::nextRow() {
  if (batch_ == nullptr || ++row_ >= batch_->rows()) {
    if (!nextBatch()) return false;
    row_ = 0;
  }
  viewRow();
  return true;
}

void ParallelCSVReader::viewRow() {
  char* const row = batch_->fixed.data() + row_ * config_.fixedWidth;
  rowView_.reset(row, row + config_.fixedWidth, &config_, 0);
}

bool ParallelCSVReader::nextBatch() {
  for (;;) {
    if (batch_ != nullptr) {
      if (batch_->failure != nullptr) std::rethrow_exception(batch_->failure);
      window_.recycle(std::move(batch_));
    }
    if (!takeBatch()) return false;
    if (batch_->rows() != 0) return true;
  }
}

bool ParallelCSVReader::takeBatch() {
  for (;;) {
    BatchWindow::Next next = window_.next(kBatchWait);
    if (next.ended) return false;
    if (next.batch != nullptr && !next.convert) {
      batch_ = std::move(next.batch);
      return true;
    }
    if (next.batch != nullptr) {
      if (next.batch->failure == nullptr) convertBatch(*ownReader_, *next.batch);
      window_.converted(next.sequence, std::move(next.batch));
    }
    checkInterrupt();
  }
}

void ParallelCSVReader::getTexts(const char** texts, size_t* bytes) const {
  // The batch keeps each text beside its length: both arrays fill in one
  // pass, with no copy call per array for a row's few texts.
  const RowBatch::Text* const row = batch_->texts.data() + row_ * textColumns_;
  for (unsigned short column = 0; column < textColumns_; ++column) {
    texts[column] = row[column].text;
    bytes[column] = row[column].bytes;
  }
}

std::string ParallelCSVReader::where() const {
  return string_format(", line %llu of %s", static_cast<unsigned long long>(batch_->rowLines[row_]),
                       fileName_.c_str());
}
