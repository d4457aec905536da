#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

// A set of 16-bit category numbers as one bit per number (8 KiB, owned
// inline, never allocating): membership, the next free number from a hint
// and an ascending walk cost a few word operations, whatever the count.
class NumberSet {
 public:
  bool contains(unsigned short number) const { return (words_[number >> 6] >> (number & 63)) & 1; }

  void insert(unsigned short number) {
    uint64_t& word = words_[number >> 6];
    const uint64_t bit = uint64_t{1} << (number & 63);
    count_ += (word & bit) == 0 ? 1 : 0;
    word |= bit;
  }

  void clear() {
    words_.fill(0);
    count_ = 0;
  }

  size_t size() const { return count_; }

  // The first number in [from, limit) not in the set; limit when none is.
  unsigned firstFree(unsigned from, unsigned limit) const {
    for (unsigned number = from; number < limit;) {
      const uint64_t free = ~words_[number >> 6] >> (number & 63);
      if (free != 0) {
        const unsigned found = number + static_cast<unsigned>(std::countr_zero(free));
        return found < limit ? found : limit;
      }
      number = (number | 63) + 1;
    }
    return limit;
  }

  // Calls visit(number) for every number in the set, ascending.
  template <typename Visit>
  void forEach(Visit visit) const {
    for (size_t at = 0; at < kWords; ++at) {
      for (uint64_t word = words_[at]; word != 0; word &= word - 1) {
        visit(static_cast<unsigned short>(at * 64 + static_cast<size_t>(std::countr_zero(word))));
      }
    }
  }

 private:
  static constexpr size_t kWords = 65536 / 64;
  std::array<uint64_t, kWords> words_{};
  size_t count_ = 0;
};
