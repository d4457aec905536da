#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "storage/buffer.h"
#include "storage/column_map_base.h"
#include "storage/number_set.h"
#include "storage/number_slots.h"
#include "storage/text_hash_index.h"

// Orders texts byte by byte as unsigned characters (strcmp). Transparent, so
// maps keyed by char* can be searched with a const char*.
struct cmpStr {
  using is_transparent = void;
  bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// The category map of a text column. Values are passed as pointers to
// NUL-terminated text. Every text that enters the map is copied once into
// the map's own string store (the Buffer base), one after the other; the
// map's entries name them by their offset in it. The store may move when it
// grows, so a pointer from getValuePointer is valid only until the next add
// of a new text. At most MAX_TEXTS + 1 texts get numbers through
// add(value). Exact lookups (getInt, containsValue, add) go through a hash
// index over the same texts, so loading pays one hash per value instead of
// a search of text comparisons. The texts in byte order (a sorted vector;
// texts numbered out of order, and new sampled ones, wait beside it until
// an operation needs the order) serve the range lookups and renumbering,
// and a bit set tells which numbers are taken. A number's text is found by a
// search of the ordered texts while the numbers follow them, and through a
// table indexed by number while they do not (from the first text numbered
// out of order to the next renumbering).
class StringColumnMap : public ColumnMapBase, public Buffer {
 public:
  // Numbered texts beyond which add(value) refuses new texts.
  static constexpr unsigned int MAX_TEXTS = 40000;

  unsigned short getInt(void* value) override;
  // getInt of a text whose length (strlen) the caller already knows.
  unsigned short getIntOfText(const char* text, size_t length);
  // getIntOfText of a text whose text_bytes::hash the caller knows too.
  unsigned short getIntOfText(const char* text, size_t length, uint64_t hash) {
    const unsigned short* found = index_.find(text, length, hash);
    return found == nullptr ? 0 : *found;
  }
  unsigned short getIntLessEq(void* value) override;
  unsigned short getIntGreatEQ(void* value) override;
  // False for a text already in the map or when there is no room; throws
  // FullLevelException when the map already holds more than MAX_TEXTS texts.
  bool add(void* value) override;
  // A text already in the map keeps its number; true when the text was new.
  bool add(void* value, unsigned short number) override;
  // add(value, number) of a text whose length (strlen) the caller knows;
  // true when the text was new to the map.
  bool addText(const char* text, size_t length, unsigned short number);
  // A text already in the map keeps its number; throws like add(value).
  unsigned short addUnordered(void* value) override;
  bool containsValue(void* value) override;
  bool containsInt(unsigned short number) override;
  void recalculatePositions() override;
  void renumber(unsigned short* translation) override;
  void getAllInts(std::vector<unsigned short>& out) override;
  uint64_t getSize() override;
  // Null for a number that is not assigned.
  void* getValuePointer(unsigned short number) const override;
  std::unique_ptr<ColumnMapBase> clone() const override;

  // Merges the waiting texts (of addUnordered and new sampled ones) into the
  // ordered texts, which hold every text afterwards. Allocates nothing.
  void settle() noexcept;

 private:
  // One text of the map: where the store holds it, and its number.
  struct Entry {
    uint32_t offset = 0;
    unsigned short number = 0;
  };
  using Entries = std::vector<Entry>;

  const char* textOf(const Entry& entry) const { return start() + entry.offset; }
  // Whether the map holds the text.
  bool holds(const char* text);
  void rebuildIndex();
  // Fills slots_ with every text's offset before the first text is numbered
  // out of order; throws, changing nothing the map reads, when memory runs out.
  void leaveOrder();
  // After a renumbering: the numbers follow the texts again.
  void enterOrder() noexcept;
  // The first ordered entry whose text is not less than `text`.
  Entries::iterator firstNotLess(const char* text);
  bool isKey(Entries::const_iterator found, const char* text) const;

  // Grows the store until a text of `length` characters and its NUL fit,
  // rebuilding the index whenever the store moves.
  void reserveText(size_t length);
  // Appends a text and its NUL to the store (room must be reserved) and
  // enters it into the index (and slots_ while out of order) with `number`;
  // its entry is the caller's to place.
  Entry storeText(const char* text, size_t length, unsigned short number);
  // Throws when the map holds too many numbered texts to take `text`.
  void requireRoomFor(const char* text) const;

  Entries ordered_;              // in byte order, but for the waiting texts (settle())
  Entries pending_;              // texts of addUnordered and new sampled ones, in arrival order
  NumberSet taken_;              // numbers of add and addUnordered (sampling's only after recalculatePositions)
  bool numbersInOrder_ = true;   // every number ascends with its text in ordered_, and pending_ is empty
  NumberSlots slots_;            // number -> its text's offset in the store, while the numbers are out of order
  // Text in the store -> its number (the entries' numbers); rebuilt
  // whenever the store moves.
  TextHashIndex<unsigned short> index_;
  unsigned short freeHint_ = 1;  // where addUnordered looks for a free number first
};
