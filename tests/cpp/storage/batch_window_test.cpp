#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "storage/batch_window.h"

namespace {

constexpr std::chrono::milliseconds kWait{10};

}  // namespace

// Batches converted in any order on several threads, and by the consumer
// while its next batch is not ready, reach the consumer in the order they
// were cut, with never more than the window's capacity out at once; the
// consumer learns when the last one has been taken. Without converting
// threads the consumer converts every batch itself.
TEST(BatchWindow, HandsBatchesBackInCutOrderWithinItsCapacity) {
  for (const size_t capacity : {1, 2, 7}) {
    for (const unsigned converters : {0U, 1U, 4U}) {
      constexpr uint64_t kBatches = 300;
      BatchWindow window(capacity);
      std::atomic<int> out{0};
      std::atomic<int> mostOut{0};
      std::thread cutter([&] {
        for (uint64_t number = 0; number < kBatches; ++number) {
          std::unique_ptr<RowBatch> batch = window.emptyBatch();
          const int now = ++out;
          if (now > mostOut) mostOut = now;
          batch->linesBefore = number;
          window.cut(std::move(batch));
        }
        window.endCutting();
      });
      std::vector<std::thread> workers;
      for (unsigned worker = 0; worker < converters; ++worker) {
        workers.emplace_back([&window, worker] {
          std::mt19937 random(worker);
          uint64_t sequence = 0;
          while (std::unique_ptr<RowBatch> batch = window.toConvert(sequence)) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
            batch->rowLines.push_back(sequence);
            window.converted(sequence, std::move(batch));
          }
        });
      }
      uint64_t expected = 0;
      uint64_t convertedHere = 0;
      for (BatchWindow::Next next; !next.ended;) {
        next = window.next(kWait);
        if (next.batch == nullptr) continue;
        if (next.convert) {
          ASSERT_EQ(next.batch->linesBefore, next.sequence);
          next.batch->rowLines.push_back(next.sequence);
          window.converted(next.sequence, std::move(next.batch));
          ++convertedHere;
          continue;
        }
        ASSERT_EQ(next.batch->linesBefore, expected) << capacity << " " << converters;
        ASSERT_EQ(next.batch->rowLines, std::vector<uint64_t>{expected});
        ++expected;
        --out;
        window.recycle(std::move(next.batch));
      }
      cutter.join();
      for (std::thread& worker : workers) worker.join();
      EXPECT_EQ(expected, kBatches);
      EXPECT_LE(mostOut.load(), static_cast<int>(capacity));
      if (converters == 0) {
        EXPECT_EQ(convertedHere, kBatches);
      }
    }
  }
}

// close() ends the waits of a cutter with the window full, of converters
// with nothing to convert, and of the consumer, and every later call.
TEST(BatchWindow, CloseEndsEveryWait) {
  BatchWindow window(1);
  std::unique_ptr<RowBatch> held = window.emptyBatch();
  std::unique_ptr<RowBatch> cutterGot = std::make_unique<RowBatch>();
  std::thread cutter([&] { cutterGot = window.emptyBatch(); });
  std::unique_ptr<RowBatch> converterGot = std::make_unique<RowBatch>();
  std::thread converter([&] {
    uint64_t sequence = 0;
    converterGot = window.toConvert(sequence);
  });
  BatchWindow::Next next = window.next(kWait);
  EXPECT_EQ(next.batch, nullptr);
  EXPECT_FALSE(next.ended);
  window.close();
  cutter.join();
  converter.join();
  EXPECT_EQ(cutterGot, nullptr);
  EXPECT_EQ(converterGot, nullptr);
  next = window.next(kWait);
  EXPECT_EQ(next.batch, nullptr);
  EXPECT_TRUE(next.ended);
}
