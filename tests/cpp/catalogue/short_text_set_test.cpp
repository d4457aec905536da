#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/short_text_set.h"

// Texts that differ in one byte anywhere, in their length alone, or in a
// NUL or high byte are told apart; texts past kMaxLength are never held;
// every text added stays found as the set grows.
TEST(ShortTextSet, TellsTextsApartAsItGrows) {
  using namespace std::string_literals;
  const std::vector<std::string> held = {
      ""s, "a"s, "aa"s, "ab"s, "ba"s, "abc"s, "acb"s, "abcd"s, "abce"s, "xbcd"s, "abcde"s, "abXde"s,
      "abcdef"s, "abcdeg"s, "abcdefg"s, "abcXefg"s, "Xbcdefg"s, "abcdefX"s, "a\0"s, "\0a"s, "\xff\xfe"s, "\0"s,
  };
  const std::vector<std::string> absent = {"b"s, "aaa"s, "abcdf"s, "abcdefh"s, "a\0\0"s, "\xff"s, "abcdeX"s};
  ShortTextSet set;
  for (const std::string& text : held) {
    EXPECT_FALSE(set.contains(text.data(), text.size())) << text;
    set.add(text.data(), text.size());
  }
  set.add("abcdefgh", 8);
  EXPECT_FALSE(set.contains("abcdefgh", 8)) << "longer than kMaxLength";
  for (int i = 0; i < 5000; ++i) {
    const std::string text = "n" + std::to_string(i);
    set.add(text.data(), text.size());
  }
  for (const std::string& text : held) EXPECT_TRUE(set.contains(text.data(), text.size())) << text;
  for (const std::string& text : absent) EXPECT_FALSE(set.contains(text.data(), text.size())) << text;
  for (int i = 0; i < 5000; ++i) {
    const std::string text = "n" + std::to_string(i);
    ASSERT_TRUE(set.contains(text.data(), text.size())) << text;
  }
  EXPECT_FALSE(set.contains("n5000", 5));
}
