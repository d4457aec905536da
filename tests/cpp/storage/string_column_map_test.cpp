#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../test_support.h"
#include "errors/database_exception.h"
#include "storage/string_column_map.h"

namespace {

bool addText(StringColumnMap& map, const std::string& text) { return map.add(const_cast<char*>(text.c_str())); }

unsigned short numberOf(StringColumnMap& map, const std::string& text) {
  return map.getInt(const_cast<char*>(text.c_str()));
}

std::string textOf(const StringColumnMap& map, unsigned short number) {
  return static_cast<const char*>(map.getValuePointer(number));
}

std::string numberedText(int i) {
  char text[16];
  std::snprintf(text, sizeof(text), "t%06d", i);
  return text;
}

}  // namespace

TEST(StringColumnMap, NumbersFollowByteOrder) {
  StringColumnMap map;
  ASSERT_TRUE(addText(map, "m"));
  ASSERT_TRUE(addText(map, "z"));
  ASSERT_TRUE(addText(map, "\xC3\xA9t\xC3\xA9"));
  ASSERT_TRUE(addText(map, "A"));
  ASSERT_TRUE(addText(map, ""));
  EXPECT_EQ(numberOf(map, "m"), 32767);
  EXPECT_EQ(numberOf(map, "z"), 49151);
  EXPECT_EQ(numberOf(map, "\xC3\xA9t\xC3\xA9"), 57343) << "bytes compare unsigned, above ASCII";
  EXPECT_EQ(numberOf(map, "A"), 16383);
  EXPECT_EQ(numberOf(map, ""), 8191);
  EXPECT_EQ(textOf(map, 8191), "");
  EXPECT_EQ(map.getSize(), 5u);
  EXPECT_FALSE(addText(map, "m"));
  EXPECT_EQ(map.getSize(), 5u);
  EXPECT_EQ(numberOf(map, "absent"), 0);
  EXPECT_FALSE(map.containsValue(const_cast<char*>("absent")));
  EXPECT_TRUE(map.containsInt(49151));
}

TEST(StringColumnMap, RefusalAndRenumbering) {
  StringColumnMap map;
  std::string text = "b";
  for (int i = 0; i < 15; ++i) {
    ASSERT_TRUE(addText(map, text)) << i;
    text.insert(text.begin(), 'a');  // each text sorts before the previous one
  }
  EXPECT_EQ(numberOf(map, "aaaaaaaaaaaaaab"), 1);
  EXPECT_FALSE(addText(map, text));
  EXPECT_EQ(map.getSize(), 15u);
  map.recalculatePositions();
  EXPECT_EQ(numberOf(map, "aaaaaaaaaaaaaab"), 3276);
  EXPECT_TRUE(addText(map, text));
  EXPECT_EQ(textOf(map, numberOf(map, text)), text);
}

// Texts without room in the order take free numbers while the store grows
// and moves; renumbering puts them in byte order and reports each old
// number's new one. Exact lookups go through a hash index over the stored
// texts, which must follow the store and the numbers throughout. The size
// limit holds for unordered texts too.
TEST(StringColumnMap, UnorderedTextsAreRenumberedInOrder) {
  StringColumnMap map;
  std::vector<std::string> texts;
  for (const int i : test_support::arrivalOrder("gap", 3000)) {
    texts.push_back(numberedText(i) + std::string(i % 50, 'x'));
    char* text = const_cast<char*>(texts.back().c_str());
    if (!map.add(text)) {
      ASSERT_NE(map.addUnordered(text), 0) << i;
    }
  }
  EXPECT_EQ(map.addUnordered(const_cast<char*>(texts[5].c_str())), numberOf(map, texts[5])) << "a held text keeps its number";
  std::map<std::string, unsigned short> before;
  for (const std::string& text : texts) before[text] = numberOf(map, text);
  // Texts numbered out of order are held, and copied, before any renumbering.
  EXPECT_EQ(map.getSize(), texts.size());
  const std::unique_ptr<ColumnMapBase> copy = map.clone();
  test_support::expectPointersPinned(map);
  test_support::expectPointersPinned(*copy);
  for (const auto& [text, number] : before) {
    EXPECT_EQ(copy->getInt(const_cast<char*>(text.c_str())), number) << text;
    EXPECT_EQ(textOf(map, number), text);
  }
  EXPECT_EQ(copy->getSize(), texts.size());
  std::vector<unsigned short> translation(65536);
  map.renumber(translation.data());
  unsigned short previous = 0;
  for (const auto& [text, old] : before) {
    const unsigned short number = numberOf(map, text);
    EXPECT_GT(number, previous) << text;
    EXPECT_EQ(translation[old], number) << text;
    previous = number;
  }
  const auto agrees = [&] {
    // Numbers ascend with the texts, and every text lies inside the store,
    // after every move of it.
    const std::set<std::string> sorted(texts.begin(), texts.end());
    unsigned short previousNumber = 0;
    for (const std::string& text : sorted) {
      ASSERT_TRUE(map.containsValue(const_cast<char*>(text.c_str()))) << text;
      const unsigned short number = numberOf(map, text);
      EXPECT_GT(number, previousNumber) << text;
      EXPECT_EQ(map.getIntLessEq(const_cast<char*>(text.c_str())), number) << text;
      const char* stored = static_cast<const char*>(map.getValuePointer(number));
      EXPECT_EQ(stored, text);
      EXPECT_GE(stored, map.start());
      EXPECT_LT(stored, map.position);
      previousNumber = number;
    }
    EXPECT_FALSE(map.containsValue(const_cast<char*>("t000001")));
    EXPECT_EQ(numberOf(map, "absent"), 0);
    test_support::expectPointersPinned(map);
  };
  agrees();
  // New texts, each just after an earlier one, grow the store again once
  // renumbered; the earlier texts keep their numbers.
  map.recalculatePositions();
  for (size_t i = 0; i < 500; ++i) {
    texts.push_back(texts[i] + "~" + std::string(100, 'y'));
    ASSERT_TRUE(addText(map, texts.back()));
  }
  agrees();
  EXPECT_FALSE(addText(map, texts.front())) << "a known text is not added again";

  StringColumnMap full;
  for (int i = 0; i <= 40000; ++i) full.add(const_cast<char*>(numberedText(i).c_str()), 0);
  full.recalculatePositions();
  EXPECT_EQ(test_support::messageOf([&] { full.addUnordered(const_cast<char*>("new")); }),
            "Category exceeds max size of 40000, unable to add value new");
  EXPECT_EQ(full.getSize(), 40001u);
}

TEST(StringColumnMap, SamplingKeepsExistingTexts) {
  StringColumnMap map;
  char a[] = "a";
  char b[] = "b";
  EXPECT_TRUE(map.add(b, 5));
  EXPECT_TRUE(map.add(a, 0));
  EXPECT_FALSE(map.add(b, 9));
  EXPECT_EQ(map.getInt(b), 5) << "a held text keeps its number";
  EXPECT_EQ(map.getSize(), 2u);
  EXPECT_FALSE(map.containsInt(5));
  EXPECT_EQ(map.used(), 4u) << "each text is stored once";
  map.recalculatePositions();
  test_support::expectPointersPinned(map);
  std::vector<unsigned short> numbers;
  map.getAllInts(numbers);
  EXPECT_EQ(numbers, (std::vector<unsigned short>{3276, 3276 + 58983 / 3}));
  EXPECT_FALSE(map.addText("a", 1, 7)) << "a held text is no new text";
  EXPECT_FALSE(map.addText("bc", 1, 7)) << "the text is its first `length` bytes";
  EXPECT_TRUE(map.addText("cb", 1, 7));
  EXPECT_EQ(map.getSize(), 3u);
}
