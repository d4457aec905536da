// Buffer: a block from the BufferManager that grows as writes need room,
// keeping the position's offset; the block goes back with the buffer.

#include "storage/buffer.h"

#include "storage/text_bytes.h"

Buffer::Buffer() : Buffer(1) {}

Buffer::Buffer(unsigned short sizeClass)
    : location(BufferManager::getInstance().getBuffer(sizeClass)),
      position(location.storage) {}

Buffer::~Buffer() {
  if (BufferManager::isShutDown()) return;
  BufferManager::getInstance().recycleBuffer(location);
}

char* Buffer::increaseBuffer() {
  const size_t offset = used();
  location = BufferManager::getInstance().getBufferNextSize(location);
  position = location.storage + offset;
  return location.storage;
}

void Buffer::grow(size_t bytes) {
  const size_t offset = used();
  location = BufferManager::getInstance().getBufferAtLeast(location, uint64_t{offset} + bytes);
  position = location.storage + offset;
}

void Buffer::write(const void* bytes, size_t length) {
  reserve(length);
  text_bytes::copy(position, static_cast<const char*>(bytes), length);
  position += length;
}
