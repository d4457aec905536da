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
  size_t best = blocks_.size();
  for (size_t i = 0; i < blocks_.size(); ++i) {
    if (blocks_[i].bytes >= bytes && (best == blocks_.size() || blocks_[i].bytes < blocks_[best].bytes)) best = i;
  }
  if (best == blocks_.size()) return nullptr;
  void* const block = blocks_[best].address;
  mapped = blocks_[best].bytes;
  kept_ -= mapped;
  blocks_[best] = blocks_.back();
  blocks_.pop_back();
  return block;
}

void BlockPool::give(void* block, size_t mapped) noexcept {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (kept_ + mapped <= kKeptBytes && blocks_.size() < blocks_.capacity()) {
#ifdef MADV_FREE
      madvise(block, mapped, MADV_FREE);
#endif
      blocks_.push_back(Kept{block, mapped});
      kept_ += mapped;
      return;
    }
  }
  munmap(block, mapped);
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
