#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "storage/row_batch.h"

// Hands batches from one cutting thread to converting threads, and back to
// one consuming thread in the order they were cut, whatever order they are
// converted in. A consumer whose next batch is not converted yet converts
// a waiting one itself, so that it never idles while work waits. At most
// `capacity` batches are out at once (taken by the cutter and not yet
// recycled by the consumer), so the memory of a load in flight stays
// bounded whatever the size of its file; the batches are made up front,
// and no call allocates. Thread-safe; close() ends every wait, present and
// future.
class BatchWindow {
 public:
  explicit BatchWindow(size_t capacity);
  BatchWindow(const BatchWindow&) = delete;
  BatchWindow& operator=(const BatchWindow&) = delete;

  // Cutter: an empty batch to fill, waiting while `capacity` batches are
  // out; null once closed.
  std::unique_ptr<RowBatch> emptyBatch();
  // Cutter: hands a filled batch on to be converted, next in file order.
  void cut(std::unique_ptr<RowBatch> batch);
  // Cutter: no batch follows.
  void endCutting();

  // Converter: the next batch to convert, waiting for one; null once
  // cutting has ended and every batch has been handed out, or once closed.
  // The batch comes back through converted().
  std::unique_ptr<RowBatch> toConvert(uint64_t& sequence);
  // Converter: hands back the batch toConvert numbered `sequence`.
  void converted(uint64_t sequence, std::unique_ptr<RowBatch> batch);

  // What next() hands the consumer.
  struct Next {
    std::unique_ptr<RowBatch> batch;  // null after a wait in vain and at the end
    bool ended = false;               // every batch taken, or the window closed
    // `batch` is cut but not converted: the consumer converts it and hands
    // it back through converted() under `sequence`.
    bool convert = false;
    uint64_t sequence = 0;
  };
  // Consumer: the next batch in file order, once converted; while it is
  // not, the first cut batch that no converter has taken. Waits at most
  // `wait` for either.
  Next next(std::chrono::milliseconds wait);
  // Consumer: gives back a batch that next() handed out, for reuse.
  void recycle(std::unique_ptr<RowBatch> batch);

  // Ends every wait: later calls hand out nothing.
  void close();

 private:
  std::mutex mutex_;
  std::condition_variable room_;       // a batch was recycled, or closed
  std::condition_variable cutReady_;   // a batch was cut, cutting ended, or closed
  std::condition_variable converted_;  // a batch was cut or converted, cutting ended, or closed
  std::vector<std::unique_ptr<RowBatch>> free_;   // batches ready to be filled
  std::vector<std::unique_ptr<RowBatch>> slots_;  // sequence % capacity -> batch cut or converted
  std::vector<unsigned char> done_;               // sequence % capacity -> 1 once converted
  uint64_t cutCount_ = 0;      // batches cut so far
  uint64_t handedOut_ = 0;     // batches handed out to be converted so far
  uint64_t taken_ = 0;         // batches handed to the consumer so far
  bool cuttingEnded_ = false;
  bool closed_ = false;
};
