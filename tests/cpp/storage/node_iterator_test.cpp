#include "storage/node_iterator.h"

#include <gtest/gtest.h>

#include <cstring>

#include "storage/buffer.h"
#include "storage/node_config.h"

namespace {

// Reads an int from a packed, possibly unaligned row.
int intAt(void* value) {
  int number = 0;
  std::memcpy(&number, value, sizeof number);
  return number;
}

// Rows of (INT, STRING, STRING) preceded by `level` category numbers.
void appendRow(Buffer& buffer, unsigned short level, int number, const char* a,
               const char* b) {
  for (unsigned short i = 0; i < level; ++i) {
    const unsigned short category = static_cast<unsigned short>(100 + i);
    buffer.write(&category, 2);
  }
  buffer.write(&number, 4);
  buffer.write(a, std::strlen(a) + 1);
  buffer.write(b, std::strlen(b) + 1);
}

// Rows of a node at level 0 hold only the plain part; deeper nodes put the
// category numbers of the unfixed levels in front of every row.
TEST(NodeIteratorTest, WalksRowsAndFindsTexts) {
  NodeConfig config;
  config.init({INT, STRING, STRING});
  for (const unsigned short level : {0, 2}) {
    Buffer buffer;
    appendRow(buffer, level, 7, "abc", "de");
    appendRow(buffer, level, -3, "", "x");
    NodeIterator rows(buffer.start(), buffer.position, &config, level);
    if (level == 2) {
      unsigned short category = 0;
      std::memcpy(&category, rows.rowStart() + 2, 2);
      EXPECT_EQ(category, 101);
    }
    EXPECT_EQ(intAt(rows.getPointer(0)), 7);
    char* first = static_cast<char*>(rows.getPointer(1));
    EXPECT_STREQ(first, "abc");
    EXPECT_EQ(static_cast<char*>(rows.getPointer(2)), first + 4);
    EXPECT_STREQ(static_cast<char*>(rows.getPointer(2)), "de");
    EXPECT_EQ(rows.getPointer(3), nullptr);
    ASSERT_TRUE(rows.nextRow());
    EXPECT_EQ(intAt(rows.getPointer(0)), -3);
    EXPECT_STREQ(static_cast<char*>(rows.getPointer(1)), "");
    EXPECT_STREQ(static_cast<char*>(rows.getPointer(2)), "x");
    EXPECT_FALSE(rows.nextRow());
    EXPECT_FALSE(rows.nextRow());
  }
  Buffer empty;
  NodeIterator none(empty.start(), empty.position, &config, 1);
  EXPECT_FALSE(none.hasRow());
  EXPECT_FALSE(none.nextRow());
}

}  // namespace
