#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// An open-addressing hash table from unsigned keys of type Key (the bits of
// fixed-width values, normalised by the owner so that equal values have
// equal keys) to entries kPresent | n, n a 16-bit number; 0 answers an
// absent key. Linear probing over a power-of-two table kept at most three
// quarters full; a key's first slot is picked by the top bits of its
// product with an odd constant. A lookup while rows stream through the
// processor's caches misses them once the table outgrows them, so a slot
// is packed to the key and the 16-bit number alone (6 bytes for 4-byte
// keys, 10 for 8-byte ones): a free slot holds kFreeKey, and the entry of
// that key itself is kept beside the table.
template <typename Key>
class ValueHashIndex {
 public:
  static constexpr uint32_t kPresent = 0x10000;
  // The key a free slot holds: one of no particular pattern, which real
  // data seldom holds.
  static constexpr Key kFreeKey = static_cast<Key>(0xB5AD4ECEDA1CE2A9ULL);

  // The entry of `key`, 0 when absent.
  uint32_t find(Key key) const {
    if (key == kFreeKey) return freeKeyEntry_;
    if (slots_.empty()) return 0;
    for (size_t at = slotOf(key);; at = (at + 1) & mask_) {
      const Key held = slots_[at].key();
      if (held == key) return kPresent | slots_[at].number();
      if (held == kFreeKey) return 0;
    }
  }

  // Replaces every entry e by update(e), which must be kPresent | a number.
  template <typename Update>
  void updateEntries(Update update) {
    if (freeKeyEntry_ != 0) freeKeyEntry_ = update(freeKeyEntry_);
    for (Slot& slot : slots_) {
      if (slot.key() != kFreeKey) slot.setNumber(static_cast<uint16_t>(update(kPresent | slot.number())));
    }
  }

  // Sets the entry of `key` (kPresent | a number), inserting the key when absent.
  void set(Key key, uint32_t entry) {
    if (key == kFreeKey) {
      freeKeyEntry_ = entry;
      return;
    }
    if (4 * (count_ + 1) > 3 * slots_.size()) grow();
    Slot& slot = slots_[probe(key)];
    if (slot.key() == kFreeKey) ++count_;
    slot = Slot(key, static_cast<uint16_t>(entry));
  }

 private:
  // The key's bytes, then the number's, unaligned.
  class Slot {
   public:
    Slot(Key key, uint16_t number) {
      std::memcpy(bytes_, &key, sizeof key);
      setNumber(number);
    }
    Key key() const {
      Key key;
      std::memcpy(&key, bytes_, sizeof key);
      return key;
    }
    uint16_t number() const {
      uint16_t number;
      std::memcpy(&number, bytes_ + sizeof(Key), sizeof number);
      return number;
    }
    void setNumber(uint16_t number) { std::memcpy(bytes_ + sizeof(Key), &number, sizeof number); }

   private:
    unsigned char bytes_[sizeof(Key) + sizeof(uint16_t)];
  };

  size_t slotOf(Key key) const {
    return static_cast<size_t>((uint64_t{key} * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  // The slot holding `key`, or the free slot where it belongs.
  size_t probe(Key key) const {
    size_t at = slotOf(key);
    while (slots_[at].key() != kFreeKey && slots_[at].key() != key) at = (at + 1) & mask_;
    return at;
  }

  void grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size(), Slot(kFreeKey, 0));
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    shift_ = 64;
    for (size_t size = slots_.size(); size > 1; size >>= 1) --shift_;
    for (const Slot& slot : old) {
      if (slot.key() != kFreeKey) slots_[probe(slot.key())] = slot;
    }
  }

  std::vector<Slot> slots_;
  uint32_t freeKeyEntry_ = 0;  // the entry of kFreeKey, which no slot can hold
  size_t mask_ = 0;
  unsigned shift_ = 64;
  size_t count_ = 0;  // keys held in slots
};
