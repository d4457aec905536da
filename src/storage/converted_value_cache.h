#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/text_bytes.h"
#include "storage/unaligned.h"

// The stored values of the short texts one column of a CSV reader has
// converted, so that a text met again is stored by one copy rather than
// read again: dates, booleans and integers of a column with few distinct
// values repeat on almost every row. Only texts of at most kMaxLength bytes
// that converted without failure are held, each packed with its length
// into two words, so that equal keys mean equal texts and the same value.
// A column that shows more than kMaxTexts distinct texts gains little: the
// cache then stops holding and finding texts for good, and frees its slots
// (at most 2 * kMaxTexts of 24 bytes before that). Owns its slots.
class ConvertedValueCache {
 public:
  static constexpr size_t kMaxLength = 15;
  static constexpr size_t kMaxTexts = 1024;

  // A cache of values `width` bytes wide (1, 2, 4 or 8).
  explicit ConvertedValueCache(unsigned width = 8) : width_(width) {}

  // Writes the value cached for `text` (`length` bytes) to `dest`; false,
  // writing nothing, when it is not cached.
  bool copy(const char* text, size_t length, char* dest) const {
    if (!active_ || length > kMaxLength) return false;
    const Key key = keyOf(text, length);
    for (size_t slot = slotOf(key);; slot = (slot + 1) & (slots_.size() - 1)) {
      const Slot& entry = slots_[slot];
      if (entry.key.high == key.high && entry.key.low == key.low) {
        store(dest, entry.value);
        return true;
      }
      if (entry.key.high == 0) return false;
    }
  }
  // Caches the value at `stored` as the conversion of `text`, which copy()
  // did not find; a text longer than kMaxLength is not held.
  void add(const char* text, size_t length, const char* stored);

 private:
  // The text's first 8 bytes in `low`, the rest in `high` with the
  // length + 1 in its top byte, so no key has a `high` of 0.
  struct Key {
    uint64_t low;
    uint64_t high;
  };
  struct Slot {
    Key key;         // high is 0 for a free slot
    uint64_t value;  // the stored bytes, in the low `width_` bytes
  };

  static Key keyOf(const char* text, size_t length) {
    const uint64_t top = (uint64_t{length} + 1) << 56;
    if (length == 0) return {0, top};
    if (length <= 8) return {text_bytes::littleWord(text, length), top};
    return {unaligned::load<uint64_t>(text), text_bytes::littleWord(text + 8, length - 8) | top};
  }
  size_t slotOf(const Key& key) const {
    return static_cast<size_t>(((key.low ^ key.high) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  void store(char* dest, uint64_t value) const {
    switch (width_) {
      case 1:
        unaligned::store(dest, static_cast<uint8_t>(value));
        return;
      case 2:
        unaligned::store(dest, static_cast<uint16_t>(value));
        return;
      case 4:
        unaligned::store(dest, static_cast<uint32_t>(value));
        return;
      default:
        unaligned::store(dest, value);
    }
  }
  // Doubles the slots and places every key again.
  void grow();

  unsigned width_;
  bool active_ = true;                         // cleared once the column passes kMaxTexts
  std::vector<Slot> slots_ = std::vector<Slot>(16);
  unsigned shift_ = 60;                        // 64 - log2(slots)
  size_t count_ = 0;                           // texts held
};
