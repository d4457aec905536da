#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// The short texts a sample has already met in one column, each packed with
// its length into a single 64-bit key: a quick test ahead of the category
// map's own lookup, which hashes and compares the text itself. Only texts
// of at most kMaxLength bytes are held; contains() answers false for longer
// ones, so a caller falls back to the map for them. Owns its slots, which
// grow with the texts added.
class ShortTextSet {
 public:
  static constexpr size_t kMaxLength = 7;

  // Whether `text` (`length` bytes, which may include NULs) was added.
  bool contains(const char* text, size_t length) const {
    if (length > kMaxLength) return false;
    const uint64_t key = keyOf(text, length);
    for (size_t slot = slotOf(key);; slot = (slot + 1) & (slots_.size() - 1)) {
      if (slots_[slot] == key) return true;
      if (slots_[slot] == 0) return false;
    }
  }
  // Adds `text`; a text longer than kMaxLength is not held.
  void add(const char* text, size_t length);

 private:
  static_assert(std::endian::native == std::endian::little, "keys are packed little-endian");

  // The text's bytes in the low bytes, its length + 1 in the top one: two
  // texts get the same key only when they are equal, and no key is 0.
  static uint64_t keyOf(const char* text, size_t length) {
    uint64_t bytes = 0;
    if (length >= 4) {
      // Two 4-byte reads that overlap in the middle; the bytes they share
      // land on the same places.
      uint32_t head = 0;
      uint32_t tail = 0;
      std::memcpy(&head, text, 4);
      std::memcpy(&tail, text + length - 4, 4);
      bytes = head | uint64_t{tail} << ((length - 4) * 8);
    } else if (length > 0) {
      const auto byte = [text](size_t i) { return uint64_t{static_cast<unsigned char>(text[i])} << (i * 8); };
      bytes = byte(0) | byte(length / 2) | byte(length - 1);
    }
    return bytes | (uint64_t{length} + 1) << 56;
  }
  size_t slotOf(uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> shift_; }
  // Doubles the slots and places every key again.
  void grow();

  std::vector<uint64_t> slots_ = std::vector<uint64_t>(16);  // key, or 0 for a free slot
  unsigned shift_ = 60;                                      // 64 - log2(slots)
  size_t count_ = 0;                                         // keys held
};
