// The pool of mapped blocks that exported batches reuse: a block taken must
// be large enough for the request (a smaller one would let a batch write
// past its end), and the pool keeps no more than its byte and block limits,
// pushing out its oldest blocks for the newest.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstddef>
#include <string>
#include <vector>

#include "main/arrow/arrow_block_pool.h"

namespace {

using arrow_export::BlockPool;

constexpr size_t kMiB = size_t{1} << 20;

// A request and the mapped size it must get, 0 for none.
struct Take {
  size_t bytes;
  size_t expected;
};

struct PoolCase {
  std::string name;
  std::vector<size_t> given;  // sizes of the blocks given, in order
  std::vector<Take> takes;    // then taken, in order
};

// Takes every block the pool keeps, leaving it empty.
void drain(BlockPool& pool) {
  size_t mapped = 0;
  while (void* block = pool.take(1, mapped)) munmap(block, mapped);
}

std::vector<size_t> repeated(size_t count, size_t bytes) { return std::vector<size_t>(count, bytes); }

std::vector<Take> repeated(size_t count, Take take) { return std::vector<Take>(count, take); }

template <typename Item>
std::vector<Item> then(std::vector<Item> items, Item last) {
  items.push_back(last);
  return items;
}

TEST(ArrowBlockPool, TakesTheSmallestLargeEnoughBlockWithinItsLimits) {
  const std::vector<PoolCase> cases = {
      {"smallest that fits", {8 * kMiB, 2 * kMiB, 4 * kMiB},
       {{3 * kMiB, 4 * kMiB}, {1, 2 * kMiB}, {9 * kMiB, 0}, {5 * kMiB, 8 * kMiB}, {1, 0}}},
      {"exact size fits", {4 * kMiB}, {{4 * kMiB + 1, 0}, {4 * kMiB, 4 * kMiB}}},
      {"past the byte limit the oldest unmapped", {100 * kMiB, 40 * kMiB, 28 * kMiB},
       {{30 * kMiB, 40 * kMiB}, {1, 28 * kMiB}, {1, 0}}},
      {"only as many old ones unmapped as needed", then(repeated(60, 2 * kMiB), 16 * kMiB),
       then(repeated(56, {2 * kMiB, 2 * kMiB}), {3 * kMiB, 16 * kMiB})},
      {"exactly the byte limit kept", {BlockPool::kKeptBytes}, {{1, BlockPool::kKeptBytes}, {1, 0}}},
      {"one block past the byte limit unmapped, the kept ones stay", {4 * kMiB, BlockPool::kKeptBytes + 2 * kMiB},
       {{1, 4 * kMiB}, {1, 0}}},
      {"past the block limit the oldest unmapped", then(repeated(64, kMiB), 2 * kMiB),
       then(repeated(63, {kMiB, kMiB}), {1, 2 * kMiB})},
  };
  BlockPool& pool = BlockPool::instance();
  for (const PoolCase& c : cases) {
    SCOPED_TRACE(c.name);
    drain(pool);
    for (const size_t bytes : c.given) {
      void* const block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      ASSERT_NE(block, MAP_FAILED);
      pool.give(block, bytes);
    }
    for (const Take& take : c.takes) {
      size_t mapped = 0;
      void* const block = pool.take(take.bytes, mapped);
      EXPECT_EQ(block != nullptr ? mapped : 0, take.expected) << "request of " << take.bytes << " bytes";
      if (block != nullptr) munmap(block, mapped);
    }
  }
  drain(pool);
}

}  // namespace
