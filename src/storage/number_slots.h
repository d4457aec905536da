#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where the value of each 16-bit category number lies in its map (a slot
// or an offset, as the map chooses): one 32-bit entry per number in a table
// of 65,536 that the first place() allocates, so that a number's value is
// found in constant time whether or not the numbers follow the values. It
// holds what was last placed for each number; the map tells which numbers
// are assigned, and reads only those.
class NumberSlots {
 public:
  // The slot last placed for `number`, which must have had one.
  uint32_t at(unsigned short number) const { return slots_[number]; }

  // Allocates on the first call only.
  void place(unsigned short number, uint32_t slot) {
    if (slots_.empty()) slots_.resize(kNumbers);
    slots_[number] = slot;
  }

 private:
  static constexpr size_t kNumbers = size_t{1} << 16;
  std::vector<uint32_t> slots_;
};
