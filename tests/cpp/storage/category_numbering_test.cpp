#include "storage/category_numbering.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "storage/number_set.h"

namespace {

struct Entry {
  unsigned short number;
};

}  // namespace

TEST(CategoryNumbering, CandidateHalvesTheGapOrRefuses) {
  struct Case {
    std::optional<unsigned short> below, above;
    std::optional<unsigned short> expected;  // none: no room
  };
  const std::vector<Case> cases = {
      {{}, {}, 32767}, {{}, 100, 50},   {{}, 2, 1},         {{}, 1, {}},
      {10, 20, 15},    {10, {}, 32772}, {65533, {}, 65534}, {65534, 65535, 65534},
  };
  for (const Case& c : cases) {
    unsigned short out = 0;
    const bool room = category_numbering::candidate(c.below ? &*c.below : nullptr, c.above ? &*c.above : nullptr, out);
    ASSERT_EQ(room, c.expected.has_value()) << c.below.value_or(0) << " " << c.above.value_or(0);
    if (room) {
      EXPECT_EQ(out, *c.expected) << c.below.value_or(0) << " " << c.above.value_or(0);
    }
  }
}

// Evenly spaced with room at both ends while the spacing allows; then
// every number from 1 up, the last value on the last number.
TEST(CategoryNumbering, RenumberedSpacing) {
  struct Case {
    uint64_t index, count;
    unsigned short expected;
  };
  const std::vector<Case> cases = {
      {0, 1, 3276},          {0, 3, 3276},  {1, 3, 3276 + 14745}, {2, 3, 32767},
      {58981, 58982, 62257}, {0, 58983, 1}, {32767, 65534, 32768}, {65533, 65534, 65534},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(category_numbering::renumbered(c.index, c.count), c.expected) << c.index << " of " << c.count;
  }
}

TEST(CategoryNumbering, FreeNumberWalksOnFromTheHintAndWrapsOnce) {
  NumberSet taken;
  for (unsigned short number : {1, 2, 3, 65533, 65534}) taken.insert(number);
  unsigned short hint = 1;
  EXPECT_EQ(category_numbering::freeNumber(taken, hint), 4);
  EXPECT_EQ(hint, 5);
  hint = 65533;
  EXPECT_EQ(category_numbering::freeNumber(taken, hint), 4) << "past the top it starts again from 1";
  hint = 0;
  EXPECT_EQ(category_numbering::freeNumber(taken, hint), 4) << "0 is never handed out";
  for (unsigned number = 1; number < 65535; ++number) taken.insert(static_cast<unsigned short>(number));
  EXPECT_EQ(category_numbering::freeNumber(taken, hint), 0);
}

// Bounds for probes below, between, on and above the values 100 and 200.
TEST(CategoryNumbering, RangeLookupBounds) {
  const std::vector<Entry> entries{{100}, {200}};
  struct Case {
    size_t found;  // index of the first entry not less than the probe
    bool equal;
    unsigned short lessEqual, greaterEqual;
  };
  const std::vector<Case> cases = {
      {0, false, 0, 0}, {0, true, 100, 100}, {1, false, 100, 200}, {1, true, 200, 200}, {2, false, 65535, 65535},
  };
  for (const Case& c : cases) {
    const auto found = entries.begin() + static_cast<std::ptrdiff_t>(c.found);
    EXPECT_EQ(category_numbering::lessEqual(entries, found, c.equal), c.lessEqual) << c.found << c.equal;
    EXPECT_EQ(category_numbering::greaterEqual(entries, found, c.equal), c.greaterEqual) << c.found << c.equal;
  }
  const std::vector<Entry> none;
  EXPECT_EQ(category_numbering::lessEqual(none, none.begin(), false), 65535) << "an empty map";
}
