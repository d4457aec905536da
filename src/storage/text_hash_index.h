#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "errors/database_exception.h"
#include "storage/text_bytes.h"

// An open-addressing hash table from texts to values of type V, for exact
// lookups of texts that live elsewhere (the index keeps only their address
// and length, so the owner must rebuild it when the texts move). Texts are
// compared byte for byte; a text is expected at most once, and shorter than
// 4 GiB. A text's first slot is picked by the top bits of its hash. Linear
// probing over a power-of-two table kept at most a quarter full while it is
// small (few collisions, so a lookup seldom probes twice) and at most three
// quarters full once it is large: a lookup among many texts misses the
// processor's caches, and a smaller table misses them less often.
template <typename V>
class TextHashIndex {
 public:
  // The value of the text of `length` bytes at `text`, or null.
  V* find(const char* text, size_t length) { return find(text, length, text_bytes::hash(text, length)); }

  // The same for a text whose text_bytes::hash the caller knows: a text of
  // at most kExactHashBytes bytes is then found without reading it.
  V* find(const char* text, size_t length, uint64_t hash) {
    if (slots_.empty()) return nullptr;
    for (size_t at = text_bytes::slotOf(hash, slots_.size());; at = (at + 1) & mask_) {
      Slot& slot = slots_[at];
      if (slot.text == nullptr) return nullptr;
      // A short text is told apart by its hash and length alone.
      if (slot.hash == hash && uint64_t{slot.length} == length &&
          (length <= text_bytes::kExactHashBytes || text_bytes::same(slot.text, text, length))) {
        return &slot.value;
      }
    }
  }

  // Records a text that is not in the index yet.
  void insert(const char* text, size_t length, V value) {
    if (length > UINT32_MAX) throw DatabaseException("A text of 4 GiB or more cannot be a category value");
    const size_t quarters = slots_.size() <= kSparseSlots ? 1 : 3;
    if (4 * (count_ + 1) > quarters * slots_.size()) grow();
    place(Slot{text, text_bytes::hash(text, length), static_cast<uint32_t>(length), value});
    ++count_;
  }

  // Replaces every value v by update(v).
  template <typename Update>
  void updateValues(Update update) {
    for (Slot& slot : slots_) {
      if (slot.text != nullptr) slot.value = update(slot.value);
    }
  }

  void clear() {
    slots_.clear();
    mask_ = 0;
    count_ = 0;
  }

  size_t size() const { return count_; }

 private:
  struct Slot {
    const char* text;  // null marks a free slot
    uint64_t hash;
    uint32_t length;
    V value;
  };

  void place(const Slot& slot) {
    size_t at = text_bytes::slotOf(slot.hash, slots_.size());
    while (slots_[at].text != nullptr) at = (at + 1) & mask_;
    slots_[at] = slot;
  }

  void grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size(), Slot{nullptr, 0, 0, V{}});
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.text != nullptr) place(slot);
    }
  }

  // Largest table kept a quarter full.
  static constexpr size_t kSparseSlots = 4096;

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  size_t count_ = 0;
};
