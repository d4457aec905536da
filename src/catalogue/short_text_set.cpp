// Growing the set of short texts a sample has met.

#include "catalogue/short_text_set.h"

void ShortTextSet::add(const char* text, size_t length) {
  if (length > kMaxLength) return;
  // At most half the slots are taken, so a probe soon meets a free one.
  if ((count_ + 1) * 2 > slots_.size()) grow();
  const uint64_t key = keyOf(text, length);
  size_t slot = slotOf(key);
  for (; slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
    if (slots_[slot] == key) return;
  }
  slots_[slot] = key;
  ++count_;
}

void ShortTextSet::grow() {
  std::vector<uint64_t> old(slots_.size() * 2);
  old.swap(slots_);
  --shift_;
  for (const uint64_t key : old) {
    if (key == 0) continue;
    size_t slot = slotOf(key);
    while (slots_[slot] != 0) slot = (slot + 1) & (slots_.size() - 1);
    slots_[slot] = key;
  }
}
