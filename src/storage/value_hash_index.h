#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An open-addressing hash table from unsigned keys of type Key (the bits of
// fixed-width values, normalised by the owner so that equal values have
// equal keys) to non-zero 32-bit entries; 0 answers an absent key. Linear
// probing over a power-of-two table kept at most three quarters full (a
// lookup while rows stream through the processor's caches misses them once
// the table outgrows them, and a fuller table still probes mostly within
// one cache line); a key's first slot is picked by the top bits of its
// product with an odd constant.
template <typename Key>
class ValueHashIndex {
 public:
  // The entry of `key`, 0 when absent.
  uint32_t find(Key key) const {
    if (slots_.empty()) return 0;
    for (size_t at = slotOf(key);; at = (at + 1) & mask_) {
      const Slot& slot = slots_[at];
      if (slot.entry == 0 || slot.key == key) return slot.entry;
    }
  }

  // Replaces every entry e by update(e), which must not be 0.
  template <typename Update>
  void updateEntries(Update update) {
    for (Slot& slot : slots_) {
      if (slot.entry != 0) slot.entry = update(slot.entry);
    }
  }

  // Sets the entry of `key` (not 0), inserting the key when absent.
  void set(Key key, uint32_t entry) {
    if (4 * (count_ + 1) > 3 * slots_.size()) grow();
    Slot& slot = slots_[probe(key)];
    if (slot.entry == 0) ++count_;
    slot = Slot{key, entry};
  }

 private:
  struct Slot {
    Key key;
    uint32_t entry;  // 0 marks a free slot
  };

  size_t slotOf(Key key) const {
    return static_cast<size_t>((uint64_t{key} * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  // The slot holding `key`, or the free slot where it belongs.
  size_t probe(Key key) const {
    size_t at = slotOf(key);
    while (slots_[at].entry != 0 && slots_[at].key != key) at = (at + 1) & mask_;
    return at;
  }

  void grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size(), Slot{0, 0});
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    shift_ = 64;
    for (size_t size = slots_.size(); size > 1; size >>= 1) --shift_;
    for (const Slot& slot : old) {
      if (slot.entry != 0) slots_[probe(slot.key)] = slot;
    }
  }

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  unsigned shift_ = 64;
  size_t count_ = 0;
};
