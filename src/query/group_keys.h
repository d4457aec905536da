#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "query/result_set.h"
#include "storage/data_type.h"

// Numbers the distinct combinations of the grouping values of rows: 0, 1,
// 2 ... in the order they first come. Two rows share a number when each
// grouping column holds the same value in both or NULL in both; the zeros
// of either sign are one value, and so are all NaNs.
//
// One fixed-width column is keyed by its value widened to 64 bits in an
// open-addressing table; anything else (a text, several columns) by a
// 32-bit hash and the first eight of the bytes of its values, the bytes
// kept back to back in one block and compared when both match. A run's
// slots are asked for before they are read. Integers are looked up first
// in a direct array around the first one seen, in front of the table. The keys
// own all their state.
class GroupKeys {
 public:
  explicit GroupKeys(std::vector<DATA_TYPE> types);

  // Writes the number of row i of a run of `count` rows, at most
  // ResultSet::kMaxRunRows, to groups[i]; the
  // grouping value of column s at row i is runs[s].value(i). Rows that
  // opened a number are appended to `opened`, in order. Throws
  // DatabaseException rather than give more than 4294967294 numbers.
  void find(const ValueRun* runs, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened);
  // Numbers given so far.
  uint32_t size() const { return count_; }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;  // a free slot; also "no NULL group yet"
  static constexpr size_t kDirectKeys = size_t{1} << 16;  // integers the direct array covers

  // A slot is placed by the mixed value of one fixed-width column, or by
  // the hash of a key of bytes.
  struct Slot {
    uint64_t word = 0;  // the value, or the first eight bytes of the key
    uint32_t hash = 0;  // the hash of a key of bytes
    uint32_t group = kEmpty;
  };
  // A key of bytes being found.
  struct Key {
    const char* bytes = nullptr;
    size_t length = 0;
    uint64_t word = 0;  // its first eight bytes
    uint64_t hash = 0;
    bool inWord = false;  // its first word tells it from every other key
  };

  void findFixed(const ValueRun& run, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened);
  template <typename T>
  void findFixed(const ValueRun& run, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened);
  // Sets up the direct array around the first integer of type T in
  // `keys` that `nulls` does not mark; false when there is none.
  template <typename T>
  bool placeDirect(const uint64_t* keys, const bool* nulls, uint32_t count);
  // findFixed through the direct array, the table behind it for keys
  // outside it.
  template <typename T>
  void findDirect(const uint64_t* keys, const bool* nulls, uint32_t count, uint32_t* groups,
                  std::vector<uint32_t>& opened);
  void findBytes(const ValueRun* runs, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened);
  // The number of a single column's NULL, opened by row `row` when new.
  uint32_t nullGroup(uint32_t row, std::vector<uint32_t>& opened);
  // The number of the fixed-width value `key`, opened by row `row` when new.
  uint32_t fixedGroup(uint64_t key, uint32_t row, std::vector<uint32_t>& opened);
  // The number of `key`, opened by row `row` when new.
  uint32_t bytesGroup(const Key& key, uint32_t row, std::vector<uint32_t>& opened);
  // Opens the number of `key`, which has none yet, for row `row`.
  uint32_t openBytes(const Key& key, uint32_t row, std::vector<uint32_t>& opened);
  // Whether the key of number `group` is `key`.
  bool sameBytes(uint32_t group, const Key& key) const;
  // Puts the key of row `row` of a run of several columns into key_.
  void composeKey(const ValueRun* runs, uint32_t row);
  // The next number, opened by row `row`.
  uint32_t open(uint32_t row, std::vector<uint32_t>& opened);
  // Doubles the slots when another key would fill more than an eighth of
  // them, or more than half once they pass 1 MiB.
  void growIfFull();
  void insert(const Slot& slot);
  // The first slot to look at for a well-mixed hash.
  size_t slotOf(uint64_t mixed) const { return static_cast<size_t>(mixed >> shift_); }

  const std::vector<DATA_TYPE> types_;
  const bool fixed_;  // one fixed-width column
  std::vector<Slot> slots_;  // a power of two of them
  int shift_ = 0;            // 64 - log2(slots_.size())
  uint32_t count_ = 0;
  uint32_t nullGroup_ = kEmpty;
  // One integer column: the number of key directLow_ + k (modulo 2^64) at
  // direct_[k] once known, kEmpty before; keys outside go to the table.
  std::vector<uint32_t> direct_;
  uint64_t directLow_ = 0;
  std::vector<char> bytes_;     // the keys of every group, back to back
  std::vector<size_t> ends_;    // per group: where its key ends in bytes_
  std::string key_;             // the key of the row being found
  std::vector<Key> runKeys_;    // one text column: the keys of a run's rows
};
