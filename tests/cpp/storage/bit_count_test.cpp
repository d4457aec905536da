#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

#include "storage/bit_count.h"

TEST(BitCount, MatchesTheStandardCount) {
  const uint64_t edges[] = {0, ~uint64_t{0}, 1, uint64_t{1} << 63, 0x8000'0000'0000'0001ULL,
                            0x5555'5555'5555'5555ULL, 0xAAAA'AAAA'AAAA'AAAAULL, 0x00FF'00FF'F0F0'0F0FULL};
  for (const uint64_t word : edges) {
    EXPECT_EQ(countOnes(word), std::popcount(word)) << std::hex << word;
  }
  std::mt19937_64 random(7);
  for (int round = 0; round < 10000; ++round) {
    const uint64_t word = random() & random();
    ASSERT_EQ(countOnes(word), std::popcount(word)) << std::hex << word;
  }
}
