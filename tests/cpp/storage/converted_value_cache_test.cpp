#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "storage/converted_value_cache.h"

namespace {

// A value's stored bytes at offset 1 of a buffer of 0xEE bytes, so that a
// store wider than the cache's width shows in the bytes after it.
std::array<unsigned char, 10> storedBytes(const ConvertedValueCache& cache, const std::string& text, bool& found) {
  std::array<unsigned char, 10> bytes;
  bytes.fill(0xEE);
  found = cache.copy(text.data(), text.size(), reinterpret_cast<char*>(bytes.data()) + 1);
  return bytes;
}

}  // namespace

// Each width gives back exactly the bytes added, for texts of every length
// class (empty, one word, two words) that differ only in their last byte or
// their length; nothing is written past the width, and a text longer than
// kMaxLength is never held.
TEST(ConvertedValueCacheTest, TextsOfEveryLengthGiveBackTheirOwnValue) {
  const std::string texts[] = {"",         "1",         "12",        "123",       "1234",
                               "12345678", "12345679",  "123456789", "12345678a", "123456789012345",
                               "123456789012346", "12345678901234"};
  for (const unsigned width : {1u, 2u, 4u, 8u}) {
    ConvertedValueCache cache(width);
    for (size_t i = 0; i < std::size(texts); ++i) {
      const uint64_t value = 0x0102'0304'0506'0700ULL + i;
      cache.add(texts[i].data(), texts[i].size(), reinterpret_cast<const char*>(&value));
    }
    for (size_t i = 0; i < std::size(texts); ++i) {
      bool found = false;
      const auto bytes = storedBytes(cache, texts[i], found);
      ASSERT_TRUE(found) << width << " '" << texts[i] << "'";
      const uint64_t value = 0x0102'0304'0506'0700ULL + i;
      EXPECT_EQ(std::memcmp(bytes.data() + 1, &value, width), 0) << width << " '" << texts[i] << "'";
      EXPECT_EQ(bytes[0], 0xEE);
      EXPECT_EQ(bytes[1 + width], 0xEE) << width << ": written past the width";
    }
    bool found = true;
    storedBytes(cache, "1234567890123456", found);
    EXPECT_FALSE(found) << "never added";
    const std::string longText = "1234567890123456";
    const uint64_t value = 7;
    cache.add(longText.data(), longText.size(), reinterpret_cast<const char*>(&value));
    storedBytes(cache, longText, found);
    EXPECT_FALSE(found) << "longer than kMaxLength";
  }
}

// Past kMaxTexts distinct texts the cache lets go: nothing is found any more,
// not even texts it held, and adding stays harmless.
TEST(ConvertedValueCacheTest, LetsGoOfAColumnWithTooManyTexts) {
  ConvertedValueCache cache(4);
  for (uint32_t i = 0; i < ConvertedValueCache::kMaxTexts; ++i) {
    const std::string text = std::to_string(i);
    cache.add(text.data(), text.size(), reinterpret_cast<const char*>(&i));
  }
  bool found = false;
  const auto bytes = storedBytes(cache, "4095", found);
  ASSERT_TRUE(found);
  EXPECT_EQ(bytes[1] | bytes[2] << 8, 4095);
  const uint32_t more = ConvertedValueCache::kMaxTexts;
  cache.add("4096", 4, reinterpret_cast<const char*>(&more));
  storedBytes(cache, "4095", found);
  EXPECT_FALSE(found);
  cache.add("4097", 4, reinterpret_cast<const char*>(&more));
  storedBytes(cache, "4097", found);
  EXPECT_FALSE(found);
}
