#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "query/accumulator.h"
#include "query/grouped_set.h"
#include "query/table_set.h"
#include "storage/column_map_base.h"
#include "storage/data_type.h"
#include "storage/node_config.h"

class ColumnMapBase;
class NodeTable;
class TreeTable;

// Groups the rows of one tree table by categorised columns and computes
// their aggregates node by node, as a TableSet's node-by-node filter hands
// the passing rows over. A group is keyed by the category numbers of its
// grouping columns (NULL's number among them), so no value is hashed or
// compared: a node whose path fixes every grouping column finds its group
// once and adds its values as a block (count(*) adds its passing row
// count), other nodes find a group per row. min and max of a categorised
// column that is not floating-point keep category numbers, which order as
// the values do, and decode them once per group. The answers are those a
// HashAggregation gives over the same rows.
//
// The table must outlive the aggregation and must not change while it
// runs; finish() hands the answer over.
class TreeAggregation : public TableSet::PassingRows {
 public:
  struct Aggregate {
    AggregateFunction function = AggregateFunction::COUNT_ROWS;
    unsigned short column = 0;  // the table column it reads; unused by COUNT_ROWS
    DATA_TYPE type = LONG;      // the type of its answers
    std::string text;           // the aggregate as written, for messages
  };

  // Most grouping columns a group key holds.
  static constexpr size_t kMaxGroupColumns = 4;

  // Whether it can group rows of `table` by `groupColumns` (table column
  // numbers): at most kMaxGroupColumns, every one categorised.
  static bool canGroup(const TreeTable& table, const std::vector<unsigned short>& groupColumns);

  // `groupColumns` must pass canGroup. Throws DatabaseException for an
  // aggregate its column's type cannot take.
  TreeAggregation(const TreeTable& table, std::vector<unsigned short> groupColumns,
                  std::vector<Aggregate> aggregates);
  ~TreeAggregation() override;

  // Throw DatabaseException when a sum of integers leaves the range of a
  // LONG.
  void wholeNode(NodeTable& node) override;
  void markedRows(NodeTable& node, const uint64_t* bits) override;

  // The answer, one row per group in the order the groups first came:
  // output columns the grouping columns, then the aggregates, as
  // HashAggregation::finish gives them.
  std::unique_ptr<GroupedSet> finish(std::vector<bool> nullable, std::vector<size_t> selected);

 private:
  // Where an aggregate reads its column and how it keeps its answers.
  struct Input {
    AggregateFunction function = AggregateFunction::COUNT_ROWS;
    bool categorised = false;
    bool nullable = false;
    bool byNumber = false;  // min or max kept as category numbers
    bool packed = false;    // a fixed-width plain column without NULLs
    unsigned short index = 0;  // path position or plain index
    unsigned short offset = 0, width = 0;  // of a packed column in a row's plain part
    const std::vector<const void*>* decoded = nullptr;  // value per category number
    std::unique_ptr<Accumulator> accumulator;  // unless byNumber
  };
  // The smallest and largest category number a group saw.
  struct NumberRange {
    unsigned short low = NULL_CATEGORY;
    unsigned short high = 0;
  };

  // Aggregates the passing rows of `node`: every row when `bits` is null.
  void aggregateNode(NodeTable& node, const uint64_t* bits);
  // Adds `count` passing rows of a node whose path fixes the group.
  void addBlock(NodeTable& node, const uint64_t* bits, size_t count, uint32_t group);
  // Adds the row whose plain part is at `row` of a node with path `path`.
  void addRow(const Input& input, size_t a, uint32_t group, const unsigned short* path, const char* row,
              const NodeConfig& layout);
  // The category number of path position `index` for the row at `row`.
  unsigned short numberAt(const unsigned short* path, unsigned short index, const char* row) const;
  // The group of the grouping numbers `numbers`, opened when new.
  uint32_t groupOf(const unsigned short* numbers);
  void openGroup(const unsigned short* numbers);
  void takeNumber(size_t a, uint32_t group, unsigned short number);
  const std::vector<const void*>& decodedValues(unsigned short index);
  // The stored value of `number` in path position `index`'s map, nullptr
  // for NULL's number in a column that may hold NULL.
  const void* decode(unsigned short index, unsigned short number, bool nullable) const;

  const TreeTable& table_;
  std::vector<unsigned short> groupIndex_;  // path position per grouping column
  std::vector<bool> groupNullable_;
  std::vector<DATA_TYPE> groupTypes_;
  std::vector<DATA_TYPE> answerTypes_;  // per aggregate
  std::vector<Input> inputs_;           // per aggregate
  std::vector<std::vector<NumberRange>> ranges_;  // per aggregate kept byNumber, per group
  std::vector<uint32_t> byFirstNumber_;  // group per number, with one grouping column
  std::unordered_map<uint64_t, uint32_t> byKey_;  // group per packed numbers, with more
  std::vector<unsigned short> keys_;    // grouping numbers, group after group
  uint32_t groupCount_ = 0;
  // Per path position, made on first need; inputs point at its entries.
  std::vector<std::vector<const void*>> decoded_;
};
