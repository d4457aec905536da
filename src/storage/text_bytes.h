#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Hashing and comparison of the short texts that fill category columns,
// done in line: for texts of a few bytes a library call costs more than
// the work.
namespace text_bytes {

// Mixes the text eight bytes at a time.
inline uint64_t hash(const char* text, size_t length) {
  uint64_t hash = 0x9E3779B97F4A7C15ULL ^ length;
  for (; length >= 8; text += 8, length -= 8) {
    uint64_t word = 0;
    std::memcpy(&word, text, 8);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 32;
  }
  // The last bytes one by one: a copy of variable length would be a call.
  uint64_t tail = 0;
  for (size_t i = 0; i < length; ++i) tail |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ULL;
  return hash ^ (hash >> 29);
}

// Byte equality of two texts of `length` bytes.
inline bool same(const char* a, const char* b, size_t length) {
  if (length > 16) return std::memcmp(a, b, length) == 0;
  for (size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace text_bytes
