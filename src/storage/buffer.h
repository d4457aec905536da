#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/buffer_manager.h"

// A growable byte block from the BufferManager with a write position. The
// Buffer owns its block and returns it to the pool when destroyed. Derived
// classes and users read and write the block directly through `location` and
// `position`; `position` always lies within the block. Growing may move the
// block, so pointers into it are valid only until the next growth.
class Buffer {
 public:
  // A 512-byte block, position at its start.
  Buffer();
  // A block of the given size class; class 0 has no storage.
  explicit Buffer(unsigned short sizeClass);
  ~Buffer();

  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // Moves the block to the next size class, keeping its contents and the
  // offset of the position. Returns the new start of the block.
  char* increaseBuffer();

  // Grows the block until `bytes` more bytes fit after the position.
  void reserve(size_t bytes) {
    if (used() + bytes > location.size) grow(bytes);
  }
  // Appends `length` bytes at the position, growing as needed.
  void write(const void* bytes, size_t length);

  char* start() const { return location.storage; }
  // Bytes in use: from the start of the block to the position.
  size_t used() const { return static_cast<size_t>(position - location.storage); }
  uint32_t capacity() const { return location.size; }
  // Forgets the contents: the position goes back to the start.
  void reset() { position = location.storage; }

  BufferLocation location;  // the block and its size
  char* position;           // where the next byte is written

 private:
  // Moves the block, in one step, to the first size class in which `bytes`
  // more bytes fit after the position.
  void grow(size_t bytes);
};
