#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "storage/data_type.h"

// The rows of one side of a join grouped by their join value, for lookups
// by value. Built once from the decoded values of positions 0 .. n - 1;
// find() answers the positions holding a value equal to the key, in
// ascending order. Equality is that of the values: texts byte by byte, -0.0
// equal to 0.0, NaN equal to nothing. Refers to the values it was built from
// (texts are not copied), so they must outlive the table. Values of an
// integer type whose range holds at most kDirectSpanPerValue numbers a
// position are grouped by value - lowest value in an array instead of
// slots: no hashing, no probing, and less memory to miss in. A sieved
// table marks integer values of a short range in a bitmap, so that holds()
// and holdsEach() answer from one bit, and the others' words in a filter.
// find() and findEach() ask the bitmap or the filter before the groups, so
// that most keys that no position holds cost one bit.
class JoinHashTable {
 public:
  // Groups positions 0 .. values.size() - 1 by the values of type `type`
  // they point at; with `sieved`, also keeps the filter where there is no
  // bitmap.
  JoinHashTable(DATA_TYPE type, const std::vector<const void*>& values, bool sieved);

  // Positions [first, last) of the table.
  using Range = std::pair<const uint32_t*, const uint32_t*>;
  // Keys looked up together by findEach at most.
  static constexpr size_t kFindBatch = 16;

  // The positions whose value equals `key` (a decoded value of the same
  // type), ascending, as [first, last); empty when none does.
  Range find(const void* key) const;
  // find() for keys[0 .. count), count at most kFindBatch, into found[i]:
  // the memory holding every key's slot is asked for before any is read,
  // so that the misses of a table larger than the caches overlap.
  void findEach(const void* const* keys, size_t count, Range* found) const;
  // Whether some position holds a value equal to `key`.
  bool holds(const void* key) const;
  // holds() for `count` values of the table's integer type packed one after
  // another from `values`, from the bitmap: bit i of `bits` (whole words,
  // bits past `count` clear) is set when the i-th is held. False, writing
  // nothing, when the table keeps no bitmap.
  bool holdsEach(const char* values, size_t count, uint64_t* bits) const;
  // holds() for the texts texts[0 .. count) of a text table, into `bits`
  // as holdsEach() fills it.
  void holdsEachText(const char* const* texts, size_t count, uint64_t* bits) const;
  // Whether holds() and holdsEach() answer from a bitmap of the values.
  bool keepsBitmap() const { return !present_.empty(); }

 private:
  // The positions of one value.
  struct Group {
    uint32_t first = 0;  // the only position, or where the group starts in positions_
    uint32_t count = 0;  // positions of the value; 0: none
  };
  struct Slot {
    uint64_t word = 0;  // the value's bits, or a text's hash
    Group group;        // count 0: the slot is free
  };

  // The value at `value` as a word that equals another value's word exactly
  // when the values are equal (for texts: the hash); false for NaN and
  // for a NULL (a null pointer), which equal nothing.
  bool wordOf(const void* value, uint64_t& word) const;
  // The slot holding the value, or the free slot where it belongs,
  // searched from slot `at` (the value's first choice by default).
  size_t slotFor(uint64_t word, const void* value) const;
  size_t slotFor(uint64_t word, const void* value, size_t at) const;
  // The positions of a group.
  Range positionsOf(const Group& group) const;
  // Groups each value in slots_ and returns, per position, its slot
  // (UINT32_MAX for a value that equals nothing).
  std::vector<uint32_t> groupInSlots(const std::vector<const void*>& values);
  // Groups each value in direct_ and returns, per position, its group's
  // index (UINT32_MAX for a NULL).
  std::vector<uint32_t> groupDirectly(const std::vector<const void*>& values);
  // Gives each group of more than one position its run of positions_,
  // filled in ascending order; groupOf as the grouping returned it.
  void fillRuns(const std::vector<uint32_t>& groupOf);
  Group& groupAt(size_t at) { return direct_.empty() ? slots_[at].group : direct_[at]; }
  // Index of `key` (not NULL) in direct_, or direct_.size() when out of
  // its range.
  size_t directIndex(const void* key) const;
  // Whether the values, all of an integer type, span at most
  // kDirectSpanPerValue numbers a value (NULLs left out); sets directLow_.
  bool spansShortRange(const std::vector<const void*>& values);
  // Whether the bitmap or the filter tells that no position holds the key
  // whose word (see wordOf) is `word`.
  bool sieveRejects(const void* key, uint64_t word) const;
  // Marks the values in present_ when their type is an integer one and
  // they span at most kMaxBitmapBits.
  void markPresent(const std::vector<const void*>& values);
  // findEach for keys of integer type T, from direct_.
  template <typename T>
  void findEachDirect(const void* const* keys, size_t count, Range* found) const;
  // holdsEach for values of integer type T, read from the bitmap.
  template <typename T>
  void holdsEachPresent(const char* values, size_t count, uint64_t* bits) const;

  // Whether present_ marks the integer whose sign-extended word is `word`.
  bool isPresent(uint64_t word) const {
    const uint64_t at = word - low_;
    return at < span_ && (present_[at / 64] >> (at % 64) & 1) != 0;
  }
  // Whether the filter lets a value with word `word` through.
  bool mayHold(uint64_t word) const {
    const uint64_t at = word >> filterShift_;
    return (filter_[at / 64] >> (at % 64) & 1) != 0;
  }

  // Values are grouped in direct_ when their range holds at most this many
  // numbers a value: its 8 bytes a number then take no more than the 32 to
  // 64 bytes a value of slots.
  static constexpr uint64_t kDirectSpanPerValue = 4;
  // Largest bitmap of present values or filter: 128 KiB, a small part of
  // the second-level cache.
  static constexpr uint64_t kMaxBitmapBits = uint64_t{1} << 20;
  // Filter bits per slot, when the filter is not at its largest.
  static constexpr uint64_t kFilterBitsPerSlot = 16;

  DATA_TYPE type_;
  unsigned short width_;
  std::vector<Slot> slots_;          // open addressing, a power of two, at most half full
  // Instead of slots_ for integer values of a short range: the group of
  // value directLow_ + i at i (as sign-extended 64-bit words).
  std::vector<Group> direct_;
  uint64_t directLow_ = 0;
  std::vector<const char*> texts_;   // per slot, the text it holds, for a text column
  std::vector<uint32_t> positions_;  // the groups of more than one position, one after the other
  // Bit v - low_ is set for each held integer value v (as a sign-extended
  // 64-bit word, subtracted modulo 2^64); empty when not kept.
  uint64_t low_ = 0;
  uint64_t span_ = 0;
  std::vector<uint64_t> present_;
  // Without present_, when sieved: bit (word >> filterShift_) set for the
  // word of each value held.
  std::vector<uint64_t> filter_;
  unsigned filterShift_ = 64;
};
