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
// their length, and writes nothing past the width; a text longer than
// kMaxLength is never held. Past kMaxTexts texts the cache lets go: nothing
// is found any more, not even texts it held.
TEST(ConvertedValueCacheTest, GivesBackEachTextsOwnValueUntilItLetsGo) {
  const std::string texts[] = {"",          "1",         "12",           "1234",           "12345678",
                               "12345679",  "123456789", "12345678a",    "123456789012345", "123456789012346",
                               "12345678901234", "1234567890123456"};
  for (const unsigned width : {1u, 2u, 4u, 8u}) {
    ConvertedValueCache cache(width);
    for (size_t i = 0; i < std::size(texts); ++i) {
      const uint64_t value = 0x0102'0304'0506'0700ULL + i;
      cache.add(texts[i].data(), texts[i].size(), reinterpret_cast<const char*>(&value));
    }
    for (size_t i = 0; i < std::size(texts); ++i) {
      bool found = false;
      const auto bytes = storedBytes(cache, texts[i], found);
      const uint64_t value = 0x0102'0304'0506'0700ULL + i;
      ASSERT_EQ(found, texts[i].size() <= ConvertedValueCache::kMaxLength) << width << " '" << texts[i] << "'";
      if (!found) continue;
      EXPECT_EQ(std::memcmp(bytes.data() + 1, &value, width), 0) << width << " '" << texts[i] << "'";
      EXPECT_EQ(bytes[1 + width], 0xEE) << width << ": written past the width";
    }
  }
  ConvertedValueCache cache(4);
  for (uint32_t i = 0; i <= ConvertedValueCache::kMaxTexts; ++i) {
    const std::string text = std::to_string(i);
    cache.add(text.data(), text.size(), reinterpret_cast<const char*>(&i));
    bool found = false;
    storedBytes(cache, "0", found);
    ASSERT_EQ(found, i < ConvertedValueCache::kMaxTexts) << "after " << i + 1 << " texts";
  }
}
