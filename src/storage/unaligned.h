#pragma once

#include <cstring>

// Reads and writes of values at any address. Stored rows are packed, so a
// value in a row is seldom aligned for its type; copying its bytes is the
// defined way to reach it, and compiles to one plain load or store.
namespace unaligned {

template <typename T>
T load(const void* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}

template <typename T>
void store(void* at, T value) {
  std::memcpy(at, &value, sizeof(T));
}

}  // namespace unaligned
