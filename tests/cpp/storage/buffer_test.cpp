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

// Every pooled block, however large, is registered until released.
TEST(Buffer, GrowthKeepsContentsAndTheRegistryBalanced) {
  BufferManager& manager = BufferManager::getInstance();
  const uint64_t before = manager.blocksInUse();
  {
    Buffer none(0);
    EXPECT_EQ(none.start(), nullptr);
    none.increaseBuffer();
    EXPECT_EQ(none.capacity(), 512u);

    Buffer large(0);
    const std::string text(300000, 'q');
    large.write(text.data(), text.size());
    EXPECT_EQ(std::memcmp(large.start(), text.data(), text.size()), 0);
    EXPECT_EQ(manager.blocksInUse(), before + 2);
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

// Growing a byte at a time walks every size class: the capacity is always
// that of the class and grows only when a byte no longer fits, the contents
// survive each move, and a block is reallocated only every few classes
// (spare room behind it) yet never has less room behind it than its class.
TEST(Buffer, StepwiseGrowthKeepsClassSizesAndContents) {
  Buffer buffer;
  std::string expected;
  unsigned short sizeClass = 1;
  unsigned reallocations = 0;
  while (buffer.capacity() < 600000) {
    const uint32_t reservedBefore = buffer.location.reserved;
    const char next = static_cast<char>('a' + expected.size() % 23);
    buffer.write(&next, 1);
    expected += next;
    if (buffer.capacity() != BufferManager::classSize(sizeClass)) {
      ASSERT_EQ(expected.size(), BufferManager::classSize(sizeClass) + 1) << "grows only past its size";
      ASSERT_EQ(buffer.capacity(), BufferManager::classSize(++sizeClass));
      ASSERT_GE(buffer.location.reserved, buffer.capacity());
      ASSERT_EQ(std::memcmp(buffer.start(), expected.data(), expected.size()), 0) << sizeClass;
      if (buffer.location.reserved != reservedBefore) ++reallocations;
    }
  }
  EXPECT_EQ(sizeClass, 49);
  EXPECT_LT(reallocations, 20u) << "one per class would be 48";
  EXPECT_EQ(std::memcmp(buffer.start(), expected.data(), expected.size()), 0);
}
