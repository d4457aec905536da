// The validity bits of a run of flagged rows, against a row-by-row
// reading of the flags: every start bit of a byte, runs shorter and longer
// than a step, a word and a run's most rows, and flags with no NULL, only
// NULLs or some.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "main/arrow/arrow_column_builder.h"

namespace {

// Flags of `count` rows with the null bit `mask` set as `pattern` says;
// the other bits of each flag byte vary.
std::vector<uint8_t> flagsOf(size_t count, uint8_t mask, int pattern) {
  std::vector<uint8_t> flags(count);
  for (size_t i = 0; i < count; ++i) {
    const bool null = pattern == 1 || (pattern == 2 && (i * 7 + i / 5) % 3 == 0);
    flags[i] = static_cast<uint8_t>(((i * 37) & ~mask) | (null ? mask : 0));
  }
  return flags;
}

}  // namespace

TEST(ArrowColumnBuilderTest, ValidityBitsFollowTheFlags) {
  for (const size_t count : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 130u, 256u}) {
    for (size_t first = 0; first < 16; ++first) {
      for (const uint8_t mask : {uint8_t{1}, uint8_t{0x10}, uint8_t{0x80}}) {
        for (int pattern = 0; pattern < 3; ++pattern) {
          SCOPED_TRACE(::testing::Message() << count << " rows from bit " << first << ", null bit " << int{mask}
                                            << ", pattern " << pattern);
          const std::vector<uint8_t> flags = flagsOf(count, mask, pattern);
          // Bits before `first` set, as earlier runs leave them; one byte
          // past the rows' last, which must stay clear.
          const size_t bytes = (first + count + 7) / 8;
          std::vector<uint8_t> bits(bytes + 1, 0);
          for (size_t bit = 0; bit < first; ++bit) bits[bit >> 3] |= static_cast<uint8_t>(1u << (bit & 7));
          const size_t nulls = arrow_export::appendValidity(flags.data(), mask, count, first, bits.data());
          size_t expectedNulls = 0;
          for (size_t bit = 0; bit < bytes * 8 + 8; ++bit) {
            const bool set = (bits[bit >> 3] >> (bit & 7) & 1) != 0;
            const bool row = bit >= first && bit < first + count;
            const bool expected = bit < first || (row && (flags[bit - first] & mask) == 0);
            expectedNulls += row && (flags[bit - first] & mask) != 0;
            ASSERT_EQ(expected, set) << "bit " << bit;
          }
          EXPECT_EQ(expectedNulls, nulls);
        }
      }
    }
  }
}
