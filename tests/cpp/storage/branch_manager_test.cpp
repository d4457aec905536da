#include "storage/branch_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "../test_support.h"
#include "errors/database_exception.h"

namespace {

using Path = std::vector<unsigned short>;

TEST(BranchManagerTest, StoresUpdatesAndRemovesPaths) {
  BranchManager branches;
  branches.init(2);
  branches.addPath(Path{1, 0});
  char* const position = branches.position;
  branches.addPath(Path{5, 7});
  Path out{9};
  branches.getPath(1, out);
  EXPECT_EQ(out, (Path{5, 7}));
  branches.updatePath(0, Path{2, 3});
  EXPECT_EQ(branches.getPath(0)[1], 3);
  for (const Path& bad : {Path{1, 2, 3}, Path{1}}) {
    EXPECT_EQ(test_support::messageOf([&] { branches.addPath(bad); }), "Incorrect number of values in new path");
    EXPECT_THROW(branches.updatePath(0, bad), DatabaseException);
  }
  EXPECT_THROW(branches.updatePath(2, Path{1, 1}), DatabaseException) << "no such path";
  EXPECT_EQ(branches.numPaths, 2u);
  branches.removeLastPath();
  EXPECT_EQ(branches.numPaths, 1u);
  EXPECT_EQ(branches.position, position);
  branches.removeLastPath();
  branches.removeLastPath();
  EXPECT_EQ(branches.numPaths, 0u);
  EXPECT_EQ(branches.position, branches.start());
}

class BranchComparatorTest : public ::testing::Test {
 protected:
  void SetUp() override { branches.init(3); }
  NodeTable* node(const Path& path) {
    branches.addPath(path);
    keys.emplace_back(std::make_unique<NodeTable>(nullptr, branches.numPaths - 1, 0, 0));
    return keys.back().get();
  }
  BranchManager branches;
  std::vector<std::unique_ptr<NodeTable>> keys;
};

// A zero in either path matches any value at its level, so a search finds
// the node whose path agrees with the key's nonzero values.
TEST_F(BranchComparatorTest, SetSearchFindsTheAgreeingNode) {
  const BranchComparator less{&branches};
  std::set<NodeTable*, BranchComparator> nodes(less);
  for (const Path& path : {Path{1, 0, 0}, Path{2, 3, 0}, Path{2, 4, 1}, Path{2, 4, 2}, Path{3, 0, 0}}) {
    nodes.insert(node(path));
  }
  const auto find = [&](const Path& path) -> long {
    const auto found = nodes.find(node(path));
    return found == nodes.end() ? -1 : static_cast<long>((*found)->pathIndex);
  };
  EXPECT_EQ(find({1, 9, 9}), 0);
  EXPECT_EQ(find({2, 3, 7}), 1);
  EXPECT_EQ(find({2, 4, 2}), 3);
  EXPECT_EQ(find({2, 4, 3}), -1);
  EXPECT_EQ(find({2, 5, 0}), -1);
  EXPECT_EQ(find({4, 0, 0}), -1);
  EXPECT_FALSE(less(node({5, 0, 0}), node({5, 7, 0})));
  EXPECT_FALSE(less(node({5, 7, 0}), node({5, 0, 0})));
  EXPECT_TRUE(less(node({5, 7, 2}), node({5, 8, 1})));
  EXPECT_FALSE(less(node({0, 0, 0}), node({9, 9, 9})));
}

}  // namespace
