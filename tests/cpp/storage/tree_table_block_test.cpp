#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "storage/full_level_exception.h"
#include "storage/row_block.h"
#include "storage/text_bytes.h"
#include "storage/tree_table.h"
#include "../test_support.h"

namespace {

using test_support::Row;

// Rows held as a reader holds a block: fixed parts back to back in the
// all-plain layout, texts apart from them and not NUL-terminated (each
// text's bytes are followed by others).
class Rows {
 public:
  Rows(const std::vector<DATA_TYPE>& types, const std::vector<unsigned char>& nullable) : types_(types) {
    config.init(types, nullable);
  }

  // Adds a row; an unset value is a NULL.
  void add(const std::vector<std::optional<std::string>>& values) {
    const size_t start = fixed_.size();
    fixed_.resize(start + config.fixedWidth, 0);
    for (unsigned short column = 0; column < types_.size(); ++column) {
      const unsigned short position = config.positions[column];
      if (!values[column].has_value()) {
        config.setNull(fixed_.data() + start, column);
        if (position >= config.numFixed) texts_.push_back("#");
        continue;
      }
      if (position >= config.numFixed) {
        texts_.push_back(*values[column] + "#");
        continue;
      }
      copyStringValueToBuffer(values[column]->c_str(), fixed_.data() + start + config.offsets[position],
                              types_[column]);
    }
    ++count_;
  }

  uint32_t count() const { return count_; }

  // The rows from `first` on, at most `rows` of them.
  RowBlock block(uint32_t first, uint32_t rows) {
    pointTexts();
    RowBlock block;
    block.config = &config;
    block.fixed = fixed_.data() + size_t{first} * config.fixedWidth;
    block.fixedStride = config.fixedWidth;
    block.texts = textPointers_.data() + size_t{first} * config.numStrings;
    block.textBytes = textBytes_.data() + size_t{first} * config.numStrings;
    block.textHashes = textHashes_.data() + size_t{first} * config.numStrings;
    block.textStride = config.numStrings;
    block.rows = std::min(rows, count_ - first);
    return block;
  }

  // Adds row `row` to `table` through addRow.
  void addRow(TreeTable& table, uint32_t row) {
    const RowBlock one = block(row, 1);
    char* const fixed = fixed_.data() + size_t{row} * config.fixedWidth;
    view_.reset(fixed, fixed + config.fixedWidth, &config, 0);
    table.addRow(view_, one.texts, one.textBytes);
  }

  NodeConfig config;

 private:
  void pointTexts() {
    textPointers_.resize(texts_.size());
    textBytes_.resize(texts_.size());
    textHashes_.resize(texts_.size());
    for (size_t index = 0; index < texts_.size(); ++index) {
      textPointers_[index] = texts_[index].data();
      textBytes_[index] = texts_[index].size();  // the '#' stands for the NUL
      textHashes_[index] = text_bytes::hash(texts_[index].data(), texts_[index].size() - 1);
    }
  }

  std::vector<DATA_TYPE> types_;
  std::vector<char> fixed_;
  std::vector<std::string> texts_;
  std::vector<const char*> textPointers_;
  std::vector<size_t> textBytes_;
  std::vector<uint64_t> textHashes_;
  NodeIterator view_;
  uint32_t count_ = 0;
};

// What a load leaves: the rows added and the row a full level refused.
struct Outcome {
  uint32_t rows = 0;
  std::optional<uint32_t> refused;
};

Outcome addOneByOne(TreeTable& table, Rows& rows) {
  Outcome outcome;
  for (uint32_t row = 0; row < rows.count(); ++row) {
    try {
      rows.addRow(table, row);
    } catch (const FullLevelException&) {
      outcome.refused = row;
      break;
    }
  }
  outcome.rows = table.numRows;
  return outcome;
}

// Blocks of varying length, as a reader's blocks end anywhere; a row the
// tree does not take in a block goes through addRow.
Outcome addByBlocks(TreeTable& table, Rows& rows) {
  static const uint32_t kLengths[] = {1, 7, 2000, 333, 1024, 64};
  Outcome outcome;
  size_t next = 0;
  for (uint32_t row = 0; row < rows.count();) {
    const uint32_t added = table.addBlock(rows.block(row, kLengths[next++ % std::size(kLengths)]));
    if (added != 0) {
      row += added;
      continue;
    }
    try {
      rows.addRow(table, row);
    } catch (const FullLevelException&) {
      outcome.refused = row;
      break;
    }
    ++row;
  }
  outcome.rows = table.numRows;
  return outcome;
}

// Both trees hold the same nodes under the same paths with the same bytes.
void expectSameTrees(const TreeTable& expected, const TreeTable& actual) {
  ASSERT_EQ(expected.nodes.size(), actual.nodes.size());
  ASSERT_EQ(expected.branches.numPaths, actual.branches.numPaths);
  auto other = actual.nodes.begin();
  for (const NodeTable* node : expected.nodes) {
    const NodeTable* twin = *other++;
    EXPECT_EQ(test_support::pathOf(expected, node), test_support::pathOf(actual, twin));
    EXPECT_EQ(node->pathIndex, twin->pathIndex);
    EXPECT_EQ(node->level, twin->level);
    EXPECT_EQ(node->splitAttempts, twin->splitAttempts);
    EXPECT_EQ(node->capacity(), twin->capacity());
    ASSERT_EQ(node->used(), twin->used()) << "node with path index " << node->pathIndex;
    EXPECT_EQ(std::memcmp(node->start(), twin->start(), node->used()), 0)
        << "rows of the node with path index " << node->pathIndex;
  }
  EXPECT_EQ(test_support::readAll(expected), test_support::readAll(actual));
}

struct BlockCase {
  const char* name;
  std::vector<DATA_TYPE> types;
  std::vector<unsigned short> levels;
  std::vector<unsigned char> nullable;
  uint32_t rows;
  bool deferRenumbering;
  // The value of `column` in row `row`, unset for a NULL.
  std::function<std::optional<std::string>(unsigned short column, uint32_t row, std::mt19937& random)> value;
  bool refusesARow;
};

std::string text(std::mt19937& random, size_t longest) {
  return std::string(random() % (longest + 1), static_cast<char>('a' + random() % 26));
}

const std::vector<BlockCase>& blockCases() {
  static const std::vector<BlockCase> cases{
      {"SplitsOnTwoLevels", {INT, STRING, DOUBLE, STRING}, {1, 0}, {}, 20000, false,
       [](unsigned short column, uint32_t, std::mt19937& random) -> std::optional<std::string> {
         switch (column) {
           case 0: return std::to_string(random() % 40);
           case 1: return "s" + std::to_string(random() % 7);
           case 2: return std::to_string(random() % 1000) + ".25";
           default: return text(random, 60);
         }
       },
       false},
      {"RunsAndSkewedNodes", {SHORT, STRING, BOOL}, {0, 1}, {}, 20000, false,
       [](unsigned short column, uint32_t row, std::mt19937& random) -> std::optional<std::string> {
         if (column == 0) return std::to_string((row / 300) % 5);
         if (column == 1) return random() % 10 == 0 ? "rare" + std::to_string(random() % 50) : "common";
         return random() % 2 == 0 ? "true" : "false";
       },
       false},
      {"RenumbersAtOnce", {INT, STRING, SHORT}, {2, 0}, {}, 12000, false,
       [](unsigned short column, uint32_t row, std::mt19937& random) -> std::optional<std::string> {
         if (column == 0) return std::to_string(100000 - static_cast<int>(row / 3));
         if (column == 1) return text(random, 30);
         return std::to_string(random() % 4);
       },
       false},
      {"RenumbersAtTheEnd", {LONG, STRING, INT}, {2, 0}, {}, 12000, true,
       [](unsigned short column, uint32_t row, std::mt19937& random) -> std::optional<std::string> {
         if (column == 0) return std::to_string(static_cast<int>(row % 4000) * (row % 2 == 0 ? 1 : -1));
         if (column == 1) return text(random, 40);
         return std::to_string(random() % 30);
       },
       false},
      {"NullsInLevelsAndPlainColumns", {STRING, DATE, INT, STRING}, {1, 0}, {1, 1, 1, 1}, 20000, false,
       [](unsigned short column, uint32_t, std::mt19937& random) -> std::optional<std::string> {
         if (random() % 8 == 0) return std::nullopt;
         switch (column) {
           case 0: return "r" + std::to_string(random() % 20);
           case 1: return "2024-01-" + std::to_string(10 + random() % 12);
           case 2: return std::to_string(random());
           default: return text(random, 50);
         }
       },
       false},
      {"LevelThatOverflows", {INT, SHORT}, {1, 0}, {}, 80000, true,
       [](unsigned short column, uint32_t row, std::mt19937& random) -> std::optional<std::string> {
         if (column == 1) return std::to_string(random() % 3);
         // New values with some repeats, until the level has no number left.
         return std::to_string(row % 8 == 0 ? random() % (row + 1) : row);
       },
       true},
  };
  return cases;
}

class TreeTableBlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(TreeTableBlockTest, BlocksBuildTheTreeOfOneRowAtATime) {
  const BlockCase& spec = GetParam();
  std::mt19937 random(20240611);
  Rows rows(spec.types, spec.nullable);
  std::vector<std::optional<std::string>> values(spec.types.size());
  for (uint32_t row = 0; row < spec.rows; ++row) {
    for (unsigned short column = 0; column < spec.types.size(); ++column) values[column] = spec.value(column, row, random);
    rows.add(values);
  }
  TreeTable oneByOne;
  TreeTable byBlocks;
  for (TreeTable* table : {&oneByOne, &byBlocks}) {
    for (const unsigned short column : spec.levels) table->columnMaps[column] = test_support::makeMap(spec.types[column]);
    table->init(spec.types, spec.levels, spec.nullable);
    if (spec.deferRenumbering) table->deferRenumbering();
  }
  const Outcome expected = addOneByOne(oneByOne, rows);
  const Outcome actual = addByBlocks(byBlocks, rows);
  EXPECT_EQ(expected.rows, actual.rows);
  EXPECT_EQ(expected.refused, actual.refused);
  EXPECT_EQ(expected.refused.has_value(), spec.refusesARow);
  if (spec.deferRenumbering) {
    oneByOne.completeRenumbering();
    byBlocks.completeRenumbering();
  }
  EXPECT_GT(oneByOne.nodes.size(), 2u) << "the rows split nodes";
  expectSameTrees(oneByOne, byBlocks);
  byBlocks.validateTree();
}

INSTANTIATE_TEST_SUITE_P(Loads, TreeTableBlockTest, ::testing::ValuesIn(blockCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TreeTableBlockLayoutTest, BlockOfAnotherLayoutIsRefused) {
  TreeTable table;
  test_support::configure(table, {INT, STRING}, {0});
  Rows rows({INT, INT}, {});
  rows.add({"1", "2"});
  EXPECT_EQ(test_support::messageOf([&] { table.addBlock(rows.block(0, 1)); }),
            "Row layout does not match the columns of the table");
  EXPECT_EQ(table.numRows, 0u);
}

}  // namespace
