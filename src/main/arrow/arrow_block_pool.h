#pragma once

#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

// The memory of exported batches. A Block is one buffer of a column: a
// small one from malloc, a large one (kMapBytes on) mapped on its own and
// offered to the kernel as huge pages. Large blocks come from, and return
// to, the process's BlockPool: fresh memory costs a page fault and the
// zeroing of every page on first touch, which for a large batch takes
// longer than filling it.
namespace arrow_export {

// Mapped blocks that batches released, kept for the next batches. At most
// kKeptBytes in at most 64 blocks are kept, the most recently given: a
// block given when the pool is full pushes out the oldest ones, so that
// blocks of answers long gone (of other sizes, which the next batches may
// never take) do not make every later batch map fresh memory. A block
// larger than kKeptBytes is unmapped at once. The pages of a kept block are
// marked as free to the kernel (MADV_FREE), which takes them back when it
// needs memory and otherwise leaves them in place, so a block taken again
// holds whatever bytes it held or zeros. Thread-safe: batches are built and
// released on any thread.
class BlockPool {
 public:
  static constexpr size_t kMapBytes = size_t{1} << 20;    // blocks from this size on are mapped
  static constexpr size_t kHugePage = size_t{2} << 20;    // mapped sizes are multiples of this
  static constexpr size_t kKeptBytes = size_t{128} << 20;  // most bytes of kept blocks

  // The process's pool. Never destroyed: batches may be released after
  // static destruction.
  static BlockPool& instance();

  // The smallest kept block of at least `bytes` bytes, its mapped size in
  // `mapped`; nullptr, `mapped` untouched, when none is that large. The
  // caller owns the block and hands it back through give().
  void* take(size_t bytes, size_t& mapped);
  // Keeps `block`, mapped with `mapped` bytes, unmapping the oldest kept
  // blocks as needed to make room; unmaps it when it alone is past the limit.
  void give(void* block, size_t mapped) noexcept;

 private:
  static constexpr size_t kKeptBlocks = 64;  // most blocks kept

  BlockPool() { blocks_.reserve(kKeptBlocks); }

  struct Kept {
    void* address;
    size_t bytes;
  };
  std::mutex lock_;
  std::vector<Kept> blocks_;  // oldest first; never grows past its first capacity
  size_t kept_ = 0;           // bytes of blocks_
};

// One buffer, owned: freed (or given to the pool) on destruction or resize.
// Not thread-safe; a block may be freed on another thread than the one that
// made it.
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { free(); }

  // The buffer; nullptr before the first resize.
  void* data() const { return data_; }

  // Replaces the buffer by one of at least `bytes` bytes (at least one),
  // whose first `keep` bytes are the old one's; the rest is undefined.
  // Throws std::bad_alloc, leaving the block as it was.
  void resize(size_t bytes, size_t keep = 0);
  // Sets the first `bytes` bytes to zero.
  void zero(size_t bytes) { std::memset(data_, 0, bytes); }

 private:
  void free() noexcept;

  void* data_ = nullptr;
  size_t mapped_ = 0;  // bytes mapped; 0 for a block from malloc
};

}  // namespace arrow_export
