#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "query/copied_columns.h"
#include "query/index_set.h"
#include "query/join_hash_table.h"
#include "query/condition.h"
#include "query/result_set.h"
#include "query/table_set.h"
#include "storage/buffer.h"

// The result of an inner join: every row of the left result set paired with
// each row of the right index whose indexed column equals the left row's
// join column, in left order with the partners of one left row in index
// order. The Buffer base holds one 8-byte pair per stored row: the left
// position (in the left set's result order), then the right position (in
// index order). A joined row shows the left table's columns first and the
// right table's after them, so conditions and sort keys on a right column
// use its number plus the left column count; selected columns name their
// side instead. Owns both sides; the tables behind them must outlive the
// set and stay unchanged while it is read. Callers must make the two join
// columns the same type (the key is read as the right column's type).
class JoinedSet : public ResultSet, public Buffer {
 public:
  // Bytes of one stored pair.
  static constexpr unsigned short kPairWidth = 8;

  JoinedSet() = default;

  // Takes over the index over the right table. filterRows takes the right
  // rows afresh from the index's table, so for it the index may hold no
  // rows; the row-by-row walk pairs the rows it holds.
  void setRight(std::unique_ptr<IndexSet> right);
  // Takes over the left rows, replacing any earlier left set; `column` is
  // the left join column. Call after setRight and before reading rows.
  // filterRows takes the left rows afresh from the set's table, so for it
  // the set may be unfilled; the row-by-row walk pairs the rows it holds.
  void setLeft(std::unique_ptr<TableSet> left, unsigned short column);
  // Appends a selected column: `column` of the right table when `rightSide`,
  // else of the left table.
  void addSelectCol(bool rightSide, unsigned short column);
  bool nextRow() override;
  void addCurrentRow() override;
  DATA_TYPE getSelectDataType(unsigned short k) override;
  bool selectMayBeNull(unsigned short k) override;
  std::string getSelectString(unsigned short k) override;
  std::string getString(unsigned short col) override;
  void* getSelectPointer(unsigned short k) override;
  void* getPointer(unsigned short col) override;
  void* getPointerPath(unsigned short col) override;
  const void* getPointerPathOrNull(unsigned short col) override;
  unsigned short getNumberOfSelectCols() override;
  unsigned short getNumberOfCols() override;
  void setRowDerived(unsigned int row) override;
  // Once the selected columns are added: copies the selected values of
  // each side whose rows are few against the pairs into arrays in its
  // stored order, so that bulk reads take them from an array instead of
  // from rows scattered over its table: a side read in its stored order
  // (the left side of unsorted pairs) when it has at most one row for
  // every kCopiedSideShare pairs, another when it has at most one a pair.
  // The right side of unsorted pairs with at least one row for every
  // kPairOrderedShare pairs is copied in pair order, so that reading the
  // pairs in order walks its copy too.
  void keepSideValues();
  // Reads the pairs of a run of positions, then each side's columns for
  // its rows of them, from the side's copy or run by run of one node.
  void selectRows(uint32_t first, uint32_t end, const void** out) override;
  // Pairs the left rows with their partners and keeps the pairs for which
  // `root` holds, in the order of the row-by-row walk. Each side is first
  // narrowed to the rows that can pass with some row of the other side,
  // the right side first. The partners of a key come from a hash table
  // built once over one side's rows: the right's, unless the clause is an
  // "and" of one-sided parts and the left rows are fewer. The rows of the
  // other side without a partner are left out as that side is read when
  // the table can tell them cheaply (a bitmap of integer values) or most of
  // them lack one. Under an "and" of one-sided parts every partner of a
  // narrowed row in the other side's narrowed rows is a pair, otherwise
  // each pair is decided from its rows' answers.
  void filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) override;

 private:
  // One selected column: its number in its own table and its side.
  struct SelectCol {
    unsigned short column;
    bool rightSide;
  };

  // The side holding joined column `col`, with `col` made local to it.
  TableSet& sideOf(unsigned short& col);
  TableSet& sideOf(const SelectCol& selected);
  // Moves the left side to its next row and looks its key up in the index;
  // false when the left rows are used up.
  bool nextLeftRowWithPartner();
  // Stand-ins for `conditions` as one side's table sees them (see
  // SideCondition).
  std::vector<std::unique_ptr<Condition>> sideConditions(const std::vector<Condition*>& conditions,
                                                         bool rightSide) const;
  // Whether the condition reads a column of the right table.
  bool readsRight(const Condition& condition) const;
  // Takes the right rows afresh from the table: those that can pass the
  // clause `root` with some row of the left side, in table order; when
  // `partners` (the sieved hash table over the left rows) is given, only
  // those with a partner in it.
  void narrowRight(const std::vector<Condition*>& conditions, const CombinedBooleanExpression& root,
                   const JoinHashTable* partners);
  // Whether the hash table is to be built over the left rows: the right
  // rows (`rightRows` of them) are not few and the left rows, narrowed by
  // their own conditions first when they have some (then `leftNarrowed`
  // is set), are fewer.
  bool buildOnLeft(const std::vector<Condition*>& conditions, const CombinedBooleanExpression& root,
                   uint32_t rightRows, bool fewPartners, bool& leftNarrowed);
  // Takes the left rows afresh from the table: those that can pass the
  // clause `root` with some row of the right side, in table order; when
  // `partners` (the sieved hash table over the right rows) is given, only
  // those with a partner in it.
  void narrowLeft(const std::vector<Condition*>& conditions, const CombinedBooleanExpression& root,
                  const JoinHashTable* partners);
  // Stores every left position with each of its partners, as the hash
  // table over the right rows gives them.
  void pairEvery(const JoinHashTable& partners);
  // The same, keeping only the pairs for which `root` holds: `keys` holds
  // the left positions' join values.
  void pairChecked(const JoinHashTable& partners, const std::vector<const void*>& keys,
                   std::vector<Condition*>& conditions, CombinedBooleanExpression& root);
  // Stores every right position with each of its partners in left order:
  // `partners` is the hash table over the left rows.
  void pairFromRight(const JoinHashTable& partners);
  // Points each side's selected columns at its columns that are selected
  // and returns, per side, the select position of each.
  std::array<std::vector<size_t>, 2> selectBySide();
  // Lays the right side's copy out in pair order: position i holds the
  // values of pair i's right row.
  void copyInPairOrder();
  // Stores the pair of left position `left` and right index position `right`.
  void addPair(uint32_t left, uint32_t right);
  // Stores the pairs of left position `left` with each right index
  // position in [first, last).
  void addPairs(uint32_t left, const uint32_t* first, const uint32_t* last);

  // A side read in its stored order is copied when it has at most one row
  // for every this many pairs.
  static constexpr uint64_t kCopiedSideShare = 4;
  // The right side's copy is laid out in pair order when it has at least
  // one row for every this many pairs.
  static constexpr uint64_t kPairOrderedShare = 2;

  std::unique_ptr<IndexSet> right_;
  std::unique_ptr<TableSet> left_;
  // Per side (left, right), the copy keepSideValues made, or nullptr.
  std::array<std::unique_ptr<CopiedColumns>, 2> copies_;
  // Whether copies_[1] holds pair i's right values at position i.
  bool rightInPairOrder_ = false;
  std::vector<SelectCol> selected_;
  unsigned short leftJoinColumn_ = 0;
  unsigned short rightColumnCount_ = 0;
  unsigned short leftColumnCount_ = 0;
  // Join value of the left row being matched; null before the first row.
  const void* key_ = nullptr;
  // Whether the right side stands on a partner of the current left row.
  bool matching_ = false;
  // Left position being matched; the first advance wraps it to 0.
  uint32_t leftCursor_ = UINT32_MAX;
  uint32_t leftRowCount_ = 0;
};
