#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/buffer.h"
#include "storage/buffer_manager.h"

TEST(BufferManager, SizeClassesAreTriangular) {
  const uint64_t expected[] = {0, 512, 1024, 2048, 3584, 5632, 8192, 11264};
  for (unsigned short c = 0; c < 8; ++c) EXPECT_EQ(BufferManager::classSize(c), expected[c]);
  EXPECT_EQ(BufferManager::classSize(19), 512u * 172);
  for (unsigned short c = 1; c < 300; ++c) {
    EXPECT_EQ(BufferManager::nextSize(BufferManager::classSize(c)), BufferManager::classSize(c + 1));
  }
  EXPECT_EQ(BufferManager::nextSize(0), 512u);
}

TEST(Buffer, DefaultAndEmptyBlocks) {
  Buffer small;
  EXPECT_EQ(small.capacity(), 512u);
  EXPECT_EQ(small.position, small.start());

  Buffer none(0);
  EXPECT_EQ(none.start(), nullptr);
  EXPECT_EQ(none.capacity(), 0u);
  none.increaseBuffer();
  EXPECT_EQ(none.capacity(), 512u);
  EXPECT_EQ(none.used(), 0u);
}

TEST(Buffer, GrowthKeepsContentsAndPosition) {
  Buffer buffer(3);
  EXPECT_EQ(buffer.capacity(), 2048u);
  buffer.write("abcdef", 6);
  buffer.increaseBuffer();
  EXPECT_EQ(buffer.capacity(), 3584u);
  buffer.increaseBuffer();
  EXPECT_EQ(buffer.capacity(), 5632u);
  EXPECT_EQ(buffer.used(), 6u);
  EXPECT_EQ(std::memcmp(buffer.start(), "abcdef", 6), 0);
}

TEST(Buffer, GrowsOnlyPastItsSize) {
  char bytes[513] = {};
  Buffer exact;
  exact.write(bytes, 512);
  EXPECT_EQ(exact.capacity(), 512u);
  Buffer over;
  over.write(bytes, 513);
  EXPECT_EQ(over.capacity(), 1024u);
}

TEST(BufferManager, RegistryForgetsReleasedBlocks) {
  BufferManager& manager = BufferManager::getInstance();
  const uint64_t before = manager.blocksInUse();
  {
    Buffer a;
    Buffer b(5);
    b.increaseBuffer();
    EXPECT_EQ(manager.blocksInUse(), before + 2);
  }
  EXPECT_EQ(manager.blocksInUse(), before);
}

TEST(Buffer, LargeBlocksStayRegisteredAcrossMoves) {
  BufferManager& manager = BufferManager::getInstance();
  const uint64_t before = manager.blocksInUse();
  {
    Buffer buffer(0);
    std::string text(300000, 'q');
    buffer.write(text.data(), text.size());
    EXPECT_EQ(manager.blocksInUse(), before + 1);
    EXPECT_EQ(std::memcmp(buffer.start(), text.data(), text.size()), 0);
  }
  EXPECT_EQ(manager.blocksInUse(), before);
}

// A large reservation reaches in one move the size class that growing class
// by class would reach, keeping the contents.
TEST(BufferReserve, JumpsToTheClassOfRepeatedGrowth) {
  Buffer stepped;
  Buffer jumped;
  stepped.write("abc", 3);
  jumped.write("abc", 3);
  const size_t wanted = 300000;
  while (stepped.used() + wanted > stepped.capacity()) stepped.increaseBuffer();
  jumped.reserve(wanted);
  EXPECT_EQ(jumped.capacity(), stepped.capacity());
  EXPECT_EQ(std::string(jumped.start(), 3), "abc");
  EXPECT_EQ(jumped.used(), 3u);
  Buffer empty;
  empty.reserve(10);
  EXPECT_GE(empty.capacity(), 10u);
}
