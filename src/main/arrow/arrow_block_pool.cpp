#include "main/arrow/arrow_block_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace arrow_export {

BlockPool& BlockPool::instance() {
  static BlockPool* const pool = new BlockPool();
  return *pool;
}

void* BlockPool::take(size_t bytes, size_t& mapped) {
  const std::lock_guard<std::mutex> guard(lock_);
  auto best = blocks_.end();
  for (auto kept = blocks_.begin(); kept != blocks_.end(); ++kept) {
    if (kept->bytes >= bytes && (best == blocks_.end() || kept->bytes < best->bytes)) best = kept;
  }
  if (best == blocks_.end()) return nullptr;
  void* const block = best->address;
  mapped = best->bytes;
  kept_ -= mapped;
  blocks_.erase(best);
  return block;
}

void BlockPool::give(void* block, size_t mapped) noexcept {
  if (mapped > kKeptBytes) {
    munmap(block, mapped);
    return;
  }
#ifdef MADV_FREE
  madvise(block, mapped, MADV_FREE);
#endif
  // The oldest blocks pushed out, unmapped once the lock is given up.
  Kept evicted[kKeptBlocks];
  size_t evictions = 0;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    while (kept_ + mapped > kKeptBytes || blocks_.size() == kKeptBlocks) {
      evicted[evictions++] = blocks_.front();
      kept_ -= blocks_.front().bytes;
      blocks_.erase(blocks_.begin());
    }
    blocks_.push_back(Kept{block, mapped});
    kept_ += mapped;
  }
  for (size_t i = 0; i < evictions; ++i) munmap(evicted[i].address, evicted[i].bytes);
}

void Block::resize(size_t bytes, size_t keep) {
  bytes = std::max<size_t>(bytes, 1);
  void* grown = nullptr;
  size_t mapped = 0;
  if (bytes >= BlockPool::kMapBytes) {
    grown = BlockPool::instance().take(bytes, mapped);
    if (grown == nullptr) {
      mapped = (bytes + BlockPool::kHugePage - 1) / BlockPool::kHugePage * BlockPool::kHugePage;
      grown = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (grown == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
      madvise(grown, mapped, MADV_HUGEPAGE);  // a hint: without huge pages, plain ones
#endif
    }
  } else {
    grown = std::malloc(bytes);
    if (grown == nullptr) throw std::bad_alloc();
  }
  if (keep > 0) std::memcpy(grown, data_, keep);
  free();
  data_ = grown;
  mapped_ = mapped;
}

void Block::free() noexcept {
  if (data_ == nullptr) return;
  if (mapped_ > 0) {
    BlockPool::instance().give(data_, mapped_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
}

}  // namespace arrow_export
