#include "storage/buffer_manager.h"

#include <cmath>
#include <cstdlib>
#include <exception>

#include "errors/database_exception.h"

namespace {

bool shutDown = false;

const char* kAllocationFailure =
    "Exception occurred while allocating buffer of size %d. Message: %s";

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
    throw DatabaseException(kAllocationFailure, size, "out of memory");
  }
  registerBlock(block, size, nullptr, 0);
  return {block, static_cast<uint32_t>(size)};
}

BufferLocation BufferManager::getBufferNextSize(BufferLocation location) {
  const uint64_t size = nextSize(location.size);
  if (size > UINT32_MAX) {
    throw DatabaseException(kAllocationFailure, size, "block size limit reached");
  }
  char* block = static_cast<char*>(std::realloc(location.storage, size));
  if (block == nullptr) {
    throw DatabaseException(kAllocationFailure, size, "out of memory");
  }
  registerBlock(block, size, location.storage, location.size);
  return {block, static_cast<uint32_t>(size)};
}

void BufferManager::registerBlock(char* block, uint64_t size, char* oldBlock,
                                  uint64_t oldSize) {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    if (oldSize != 0) {
      auto entry = inUse_.find(oldSize);
      if (entry != inUse_.end()) entry->second.erase(oldBlock);
    }
    inUse_[size].insert(block);
  } catch (const std::exception& e) {
    throw DatabaseException(kAllocationFailure, size, e.what());
  }
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
