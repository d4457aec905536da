// BufferManager: blocks by size class, a registry of every block handed out
// (freed at exit), and growth with room to spare so most steps copy nothing.

#include "storage/buffer_manager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <string>

#include "errors/database_exception.h"

namespace {

bool shutDown = false;

// The size is rendered as text first: it is 64-bit, wider than what "%d"
// reads.
DatabaseException allocationFailure(uint64_t size, const char* reason) {
  return DatabaseException("Exception occurred while allocating buffer of size %s. Message: %s",
                           std::to_string(size).c_str(), reason);
}

}  // namespace

BufferManager& BufferManager::getInstance() {
  static BufferManager instance;
  return instance;
}

bool BufferManager::isShutDown() { return shutDown; }

BufferManager::~BufferManager() {
  clear();
  shutDown = true;
}

uint64_t BufferManager::classSize(unsigned short sizeClass) {
  if (sizeClass == 0) return 0;
  const uint64_t n = sizeClass;
  return kUnitSize * ((n - 1) * n / 2 + 1);
}

uint64_t BufferManager::nextSize(uint64_t size) {
  if (size == 0) return kUnitSize;
  const uint64_t units = size / kUnitSize;
  const auto n = static_cast<uint64_t>((std::sqrt(8.0 * units - 7.0) + 1.0) / 2.0);
  return kUnitSize * (n * (n + 1) / 2 + 1);
}

BufferLocation BufferManager::getBuffer() { return getBuffer(1); }

BufferLocation BufferManager::getBuffer(unsigned short sizeClass) {
  if (sizeClass == 0) return {};
  const uint64_t size = classSize(sizeClass);
  char* block = static_cast<char*>(std::malloc(size));
  if (block == nullptr) {
    throw allocationFailure(size, "out of memory");
  }
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    inUse_[size].insert(block);
  } catch (const std::exception& e) {
    std::free(block);
    throw allocationFailure(size, e.what());
  }
  return {block, static_cast<uint32_t>(size), static_cast<uint32_t>(size)};
}

BufferLocation BufferManager::getBufferNextSize(BufferLocation location) {
  if (location.storage == nullptr) return getBuffer(1);
  return resizeBuffer(location, nextSize(location.size));
}

BufferLocation BufferManager::getBufferAtLeast(BufferLocation location, uint64_t minimum) {
  if (location.storage == nullptr) {
    location = getBuffer(1);
    if (location.size >= minimum) return location;
  }
  uint64_t size = location.size;
  do {
    size = nextSize(size);
  } while (size < minimum && size <= UINT32_MAX);
  return resizeBuffer(location, size);
}

BufferLocation BufferManager::resizeBuffer(BufferLocation location, uint64_t size) {
  if (size > UINT32_MAX) {
    throw allocationFailure(size, "block size limit reached");
  }
  // Everything in the registry that can fail happens before the block moves:
  // the entry for the new size is created and the old block's registry node
  // taken out, so the moved block is registered again without allocating.
  std::set<char*>::node_type node;
  std::set<char*>* target = nullptr;
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    target = &inUse_[size];
    auto entry = inUse_.find(location.size);
    if (entry != inUse_.end()) node = entry->second.extract(location.storage);
  } catch (const std::exception& e) {
    throw allocationFailure(size, e.what());
  }
  char* block = location.storage;
  uint64_t reserved = location.reserved;
  if (size > reserved) {
    // Half as much again as asked for: later growth steps fit without a copy.
    reserved = std::min<uint64_t>(size + size / 2, UINT32_MAX);
    block = static_cast<char*>(std::realloc(location.storage, reserved));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (block == nullptr) {
    if (!node.empty()) inUse_[location.size].insert(std::move(node));
    throw allocationFailure(size, "out of memory");
  }
  if (node.empty()) {
    target->insert(block);
  } else {
    node.value() = block;
    target->insert(std::move(node));
  }
  return {block, static_cast<uint32_t>(size), static_cast<uint32_t>(reserved)};
}

void BufferManager::recycleBuffer(BufferLocation& location) {
  std::free(location.storage);
  std::lock_guard<std::mutex> lock(mutex_);
  auto entry = inUse_.find(location.size);
  if (entry != inUse_.end()) entry->second.erase(location.storage);
}

void BufferManager::clearAvailable() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [size, blocks] : available_) {
    for (char* block : blocks) std::free(block);
  }
  available_.clear();
}

void BufferManager::clear() {
  clearAvailable();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [size, blocks] : inUse_) {
    for (char* block : blocks) std::free(block);
  }
  inUse_.clear();
}

uint64_t BufferManager::blocksInUse() {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t count = 0;
  for (const auto& [size, blocks] : inUse_) count += blocks.size();
  return count;
}
