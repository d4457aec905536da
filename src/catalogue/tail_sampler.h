#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "storage/data_type.h"

// Samples, on a thread of its own, the records of a CSV file that start
// after a byte offset, while the calling thread samples those before it.
// For every column still a candidate it records each distinct value with
// the record (counted from 1 within the tail) where it first appears, and
// the first record holding a NULL: enough for the calling thread to replay
// the cleanings of the whole sample at the rows where one thread meets
// them. It stops recording a column that markDropped names, or whose
// distinct values pass CONFIG_CATEGORY_THRESHOLD (no cleaning keeps such a
// column). A failure (a bad record, an unreadable file) is kept, not
// thrown: the caller then reads the tail itself, for the exact message.
//
// The thread never touches Python and does not outlive the object: the
// destructor stops it and waits for it.
class TailSampler {
 public:
  // Where a distinct value first appears, and its stored form, NUL-ended
  // for a text, at `begin` in the column's `values`.
  struct FirstSeen {
    uint32_t row;
    uint32_t begin;
  };
  // What the tail held of one column.
  struct ColumnSample {
    std::vector<FirstSeen> firsts;  // in the order of the records
    std::string values;             // stored forms, back to back
    uint32_t firstNull = 0;         // first record with a NULL; 0 for none
  };

  // Starts the thread on the records after the line that holds byte
  // `offset` of the file's text. Throws std::system_error when no thread
  // can be started.
  TailSampler(std::string fileName, std::vector<DATA_TYPE> types, char separator,
              std::vector<unsigned char> nullable, uint64_t offset);
  ~TailSampler();
  TailSampler(const TailSampler&) = delete;
  TailSampler& operator=(const TailSampler&) = delete;

  // Tells the thread that `column` is no candidate any more.
  void markDropped(unsigned short column) { dropped_[column].store(1, std::memory_order_relaxed); }
  // Waits for the thread, checking for an interrupt meanwhile; true when
  // it read every record up to the end of the file. The answers below are
  // valid once this returned true.
  bool finish();
  // Bytes of the text before the first record of the tail.
  uint64_t start() const { return start_; }
  // Records in the tail.
  uint32_t rows() const { return rows_; }
  const ColumnSample& column(unsigned short column) const { return columns_[column]; }

 private:
  void run() noexcept;

  const std::string fileName_;
  const std::vector<DATA_TYPE> types_;
  const char separator_;
  const std::vector<unsigned char> nullable_;
  const uint64_t offset_;
  std::vector<std::atomic<unsigned char>> dropped_;  // column -> 1 once no candidate
  std::atomic<bool> stop_{false};                    // the owner goes: stop reading
  std::vector<ColumnSample> columns_;
  uint64_t start_ = 0;
  uint32_t rows_ = 0;
  bool complete_ = false;  // every record read without failure
  std::future<void> done_;
};
