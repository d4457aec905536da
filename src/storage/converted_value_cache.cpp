// Holding the converted values of a column's short texts.

#include "storage/converted_value_cache.h"

#include <cstring>

void ConvertedValueCache::add(const char* text, size_t length, const char* stored) {
  if (!active_ || length > kMaxLength) return;
  if (count_ == kMaxTexts) {
    // Too many distinct texts for the cache to pay: let it go.
    active_ = false;
    slots_ = std::vector<Slot>(1);
    return;
  }
  // At most half the slots are taken, so a probe soon meets a free one.
  if ((count_ + 1) * 2 > slots_.size()) grow();
  const Key key = keyOf(text, length);
  size_t slot = slotOf(key);
  for (; slots_[slot].key.high != 0; slot = (slot + 1) & (slots_.size() - 1)) {
    if (slots_[slot].key.high == key.high && slots_[slot].key.low == key.low) return;
  }
  uint64_t value = 0;
  std::memcpy(&value, stored, width_);
  slots_[slot] = {key, value};
  ++count_;
}

void ConvertedValueCache::grow() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  --shift_;
  for (const Slot& entry : old) {
    if (entry.key.high == 0) continue;
    size_t slot = slotOf(entry.key);
    while (slots_[slot].key.high != 0) slot = (slot + 1) & (slots_.size() - 1);
    slots_[slot] = entry;
  }
}
