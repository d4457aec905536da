#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "storage/buffer.h"
#include "storage/column_map_base.h"
#include "storage/text_hash_index.h"

// Orders texts byte by byte as unsigned characters (strcmp). Transparent, so
// maps keyed by char* can be searched with a const char*.
struct cmpStr {
  using is_transparent = void;
  bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// The category map of a text column. Values are passed as pointers to
// NUL-terminated text. Every text that enters the map is copied once into
// the map's own string store (the Buffer base), one after the other; both
// maps point into that store. The store may move when it grows, so a pointer
// from getValuePointer is valid only until the next add of a new text.
// At most MAX_TEXTS + 1 texts get numbers through add(value). Exact lookups
// (getInt, containsValue, add) go through a hash index over the same texts,
// so loading pays one hash per value instead of a tree walk of text
// comparisons; the ordered map serves the range lookups and renumbering.
class StringColumnMap : public ColumnMapBase, public Buffer {
 public:
  using ValueMap = std::map<char*, unsigned short, cmpStr>;

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
  // A text already in the map keeps its number.
  void add(void* value, unsigned short number) override;
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

  // Re-points every stored text after the store moved away from oldStart.
  void updateValues(char* oldStart);
  // Inserts the texts numbered by addUnordered into valueToInt, which holds
  // every text afterwards. Allocates nothing.
  void settle() noexcept;

  std::map<unsigned short, char*> intToValue;  // number -> text in the store
  ValueMap valueToInt;                         // text in the store -> number, but for the waiting texts (settle())

 private:

  // Whether the map holds the text.
  bool holds(const char* text);
  void rebuildIndex();
  // Records a held text's new number in the index.
  void setIndexedNumber(const char* stored, unsigned short number);

  // Grows the store until a text of `length` characters and its NUL fit,
  // rebasing the maps whenever the store moves.
  void reserveText(size_t length);
  // Appends a text and its NUL to the store (room must be reserved) and
  // returns its copy.
  char* storeText(const char* text, size_t length);
  bool isKey(ValueMap::const_iterator found, const char* text) const;
  // Throws when the map holds too many numbered texts to take `text`.
  void requireRoomFor(const char* text) const;
  // Stores a new text (room must be reserved) and enters it with `number`
  // into both maps; `hint` is where it goes in valueToInt, if known.
  void enterText(const char* text, size_t length, unsigned short number, ValueMap::const_iterator hint);

  // Text in the store -> its number, the same as in valueToInt (held in
  // the index too, so that a lookup reads no tree node); rebuilt whenever
  // the store moves.
  TextHashIndex<unsigned short> index_;
  unsigned short freeHint_ = 1;  // where addUnordered looks for a free number first
  // Texts numbered by addUnordered, each in its own node, in arrival order.
  std::vector<ValueMap::node_type> pending_;
};
