#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../test_support.h"
#include "storage/text_hash_index.h"

namespace {

int* lookup(TextHashIndex<int>& index, const std::string& text) { return index.find(text.data(), text.size()); }

}  // namespace

// Texts that share prefixes, differ only past a word boundary or only in
// length must all be told apart, through several growths of the table.
TEST(TextHashIndex, TellsCloseTextsApartThroughGrowth) {
  TextHashIndex<int> index;
  EXPECT_EQ(lookup(index, "a"), nullptr) << "an empty index finds nothing";
  std::vector<std::string> texts{"", "a", "ab", "abcdefgh", "abcdefghi", "abcdefgi", std::string("a\0b", 3)};
  for (int i = 0; i < 2000; ++i) texts.push_back("row" + std::to_string(i) + std::string(i % 19, 'x'));
  for (size_t i = 0; i < texts.size(); ++i) index.insert(texts[i].data(), texts[i].size(), static_cast<int>(i));
  EXPECT_EQ(index.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    const int* found = lookup(index, texts[i]);
    ASSERT_NE(found, nullptr) << texts[i];
    EXPECT_EQ(*found, static_cast<int>(i)) << texts[i];
  }
  for (const std::string& absent : std::vector<std::string>{"abcdefg", "abcdefghij", "row1xx", "b", std::string("a\0c", 3)}) {
    EXPECT_EQ(lookup(index, absent), nullptr) << absent;
  }
  EXPECT_EQ(test_support::messageOf([&] { index.insert("a", size_t{1} << 32, 0); }),
            "A text of 4 GiB or more cannot be a category value");
  EXPECT_EQ(index.size(), texts.size());
  index.clear();
  EXPECT_EQ(lookup(index, "a"), nullptr);
  EXPECT_EQ(index.size(), 0u);
}
