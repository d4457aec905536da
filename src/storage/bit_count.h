#pragma once

#include <bit>
#include <cstdint>

// The number of set bits of a word. Without a population-count instruction
// in the target's baseline, std::popcount becomes a call into the compiler's
// support library; the same count takes a dozen inline operations.
constexpr int countOnes(uint64_t word) {
#if defined(__POPCNT__)
  return std::popcount(word);
#else
  word -= (word >> 1) & 0x5555'5555'5555'5555ULL;
  word = (word & 0x3333'3333'3333'3333ULL) + ((word >> 2) & 0x3333'3333'3333'3333ULL);
  word = (word + (word >> 4)) & 0x0F0F'0F0F'0F0F'0F0FULL;
  return static_cast<int>((word * 0x0101'0101'0101'0101ULL) >> 56);
#endif
}
