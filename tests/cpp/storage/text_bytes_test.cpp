#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "storage/text_bytes.h"

// Texts of every length up to past two words, copied, compared, hashed and
// measured at different addresses: a copy lands exactly (no byte before or
// after the target range), a difference in any single byte must be seen,
// equal bytes must hash alike, and nothing past a text's end may matter (the
// copies are followed by different bytes). Measuring finds the length at
// every alignment and a non-ASCII byte anywhere in the text, and only there.
TEST(TextBytes, EveryByteOfEveryLengthCounts) {
  for (size_t length = 0; length <= 40; ++length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + (i * 7) % 26);
    std::string first = text;
    first += 'X';
    std::string second(1, '.');
    second += text;
    second += 'Y';
    const char* const copy = second.data() + 1;
    std::string target(48, '#');
    text_bytes::copy(target.data() + 3, text.data(), length);
    ASSERT_EQ(target, std::string(3, '#') + text + std::string(45 - length, '#')) << length;
    ASSERT_TRUE(text_bytes::same(first.data(), copy, length)) << length;
    ASSERT_EQ(text_bytes::hash(first.data(), length), text_bytes::hash(copy, length)) << length;
    for (size_t at = 0; at < length; ++at) {
      std::string changed = text;
      changed[at] = static_cast<char>(changed[at] ^ 0x20);
      ASSERT_FALSE(text_bytes::same(first.data(), changed.data(), length)) << length << " " << at;
      ASSERT_NE(text_bytes::hash(first.data(), length), text_bytes::hash(changed.data(), length)) << length << " " << at;
    }
    // At every alignment, and starting just before a page's end.
    alignas(4096) static char pages[8192];
    for (size_t align = 0; align < 36; ++align) {
      // Non-ASCII bytes just before the text and just after its NUL.
      const std::string frame = std::string(align % 16, '\xC3') + text + std::string(1, '\0') + "\xA9\xA9";
      char* const framed = align < 16 ? pages : pages + 4096 - frame.size() + length - (align - 16);
      std::memcpy(framed, frame.data(), frame.size());
      const char* const start = framed + align % 16;
      bool ascii = false;
      ASSERT_EQ(length, text_bytes::terminatedLength(start, ascii)) << length << " " << align;
      ASSERT_TRUE(ascii) << length << " " << align;
      for (size_t at = 0; at < length; ++at) {
        framed[align % 16 + at] = '\xE9';
        ASSERT_EQ(length, text_bytes::terminatedLength(start, ascii)) << length << " " << align << " " << at;
        ASSERT_FALSE(ascii) << length << " " << align << " " << at;
        framed[align % 16 + at] = text[at];
      }
    }
  }
}

// Hash tables take equal hash and length as equal text up to
// kExactHashBytes: every text of one or two bytes, and many random texts of
// each length up to that bound, must have a hash of their own.
TEST(TextBytes, ShortTextsHaveHashesOfTheirOwn) {
  std::mt19937_64 random(5);
  for (size_t length = 1; length <= text_bytes::kExactHashBytes; ++length) {
    std::set<uint64_t> hashes;
    std::set<std::string> texts;
    const auto add = [&](const std::string& text) {
      if (texts.insert(text).second) hashes.insert(text_bytes::hash(text.data(), text.size()));
    };
    if (length <= 2) {
      for (unsigned bytes = 0; bytes < (1u << (8 * length)); ++bytes) {
        add(std::string(reinterpret_cast<const char*>(&bytes), length));
      }
    }
    for (int i = 0; i < 50000; ++i) {
      const uint64_t bytes = random();
      add(std::string(reinterpret_cast<const char*>(&bytes), length));
    }
    EXPECT_EQ(hashes.size(), texts.size()) << length;
  }
}

// Hash tables and caches pick a slot by the hash's top bits, so those must
// depend on every byte: numbered texts that differ only near their end
// spread over the slots about as well as random numbers would, short ones
// (one multiplication) and long ones alike.
TEST(TextBytes, SlotsOfNumberedTextsSpread) {
  for (const char* prefix : {"P", "item-", "", "customer number "}) {
    std::set<uint64_t> slots;
    for (int n = 0; n < 2000; ++n) {
      const std::string text = prefix + std::to_string(n);
      slots.insert(text_bytes::slotOf(text_bytes::hash(text.data(), text.size()), 4096));
    }
    // Random hashes would fill about 1580 of the 4096 slots.
    EXPECT_GT(slots.size(), 1450U) << '"' << prefix << '"';
  }
}
