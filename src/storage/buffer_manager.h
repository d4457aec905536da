#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>

// A block of raw bytes handed out by the BufferManager: its first byte and
// its size. {nullptr, 0} stands for no storage. `reserved` is the size of
// the allocation behind the block, at least `size` once set by the manager
// (0 when unknown); only the first `size` bytes are the block's.
struct BufferLocation {
  char* storage = nullptr;
  uint32_t size = 0;
  uint32_t reserved = 0;
};

// The process-wide pool every Buffer takes its block from. Blocks come in
// size classes: class n holds 512 * ((n - 1) * n / 2 + 1) bytes, so each
// growth step adds one more 512-byte unit than the previous one. Moving a
// block to a larger class reallocates it with room to spare (half its
// size again), so that a block growing class by class is copied only every
// few classes while its size stays that of its class. The manager
// registers every block it hands out and releases whatever is still
// registered when the process ends. All registry access is under one mutex;
// the allocator calls themselves run outside it.
class BufferManager {
 public:
  static constexpr uint64_t kUnitSize = 512;

  // The single manager, created on first use and destroyed at process exit.
  static BufferManager& getInstance();
  // True once the manager has been destroyed at process exit; blocks released
  // after that are left to the operating system.
  static bool isShutDown();

  // The size in bytes of a size class; class 0 has no storage.
  static uint64_t classSize(unsigned short sizeClass);
  // The size of the class after the one a block of `size` bytes belongs to.
  static uint64_t nextSize(uint64_t size);

  // A new 512-byte block.
  BufferLocation getBuffer();
  // A new block of the given class; class 0 yields {nullptr, 0}.
  BufferLocation getBuffer(unsigned short sizeClass);
  // Moves the block to the next size class keeping its contents; the old
  // location is invalid afterwards. On failure the old block is untouched.
  BufferLocation getBufferNextSize(BufferLocation location);
  // Moves the block to the first size class after its own that holds
  // `minimum` bytes, in one step: the class that repeated
  // getBufferNextSize calls would reach. A null block starts from class 1.
  BufferLocation getBufferAtLeast(BufferLocation location, uint64_t minimum);
  // Releases the block and forgets it; a null block is allowed.
  void recycleBuffer(BufferLocation& location);
  // Releases the blocks held back for reuse (none are, in this pool).
  void clearAvailable();
  // Releases every registered block; only for process exit.
  void clear();

  // Number of blocks currently handed out, for leak checks.
  uint64_t blocksInUse();

  ~BufferManager();
  BufferManager(const BufferManager&) = delete;
  BufferManager& operator=(const BufferManager&) = delete;

 private:
  using Registry = std::map<uint64_t, std::set<char*>>;

  BufferManager() = default;
  // Moves the block to `size` bytes keeping its contents; reallocates only
  // when the allocation behind it is smaller.
  BufferLocation resizeBuffer(BufferLocation location, uint64_t size);

  Registry inUse_;      // block size -> blocks handed out
  Registry available_;  // block size -> blocks held back for reuse
  std::mutex mutex_;
};
