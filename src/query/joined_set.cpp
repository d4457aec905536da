// The result of an inner join: pairing left rows with their partners, row
// by row or all at once under a where clause, and reading joined rows.

#include "query/joined_set.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "errors/interruption.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/join_hash_table.h"
#include "query/partner_condition.h"
#include "query/side_condition.h"

#include "storage/tree_table.h"

void JoinedSet::setRight(std::unique_ptr<IndexSet> right) {
  right_ = std::move(right);
  rightColumnCount_ = right_->getNumberOfCols();
}

void JoinedSet::setLeft(std::unique_ptr<TableSet> left, unsigned short column) {
  left_ = std::move(left);
  leftRowCount_ = left_->rowCount;
  leftJoinColumn_ = column;
  leftColumnCount_ = left_->getNumberOfCols();
}

void JoinedSet::addSelectCol(bool rightSide, unsigned short column) {
  selected_.push_back(SelectCol{column, rightSide});
}

bool JoinedSet::nextRow() {
  if (matching_ && right_->checkNextRow(key_)) {
    return true;
  }
  return nextLeftRowWithPartner();
}

bool JoinedSet::nextLeftRowWithPartner() {
  matching_ = false;
  while (++leftCursor_ < leftRowCount_) {
    left_->setRow(leftCursor_);
    key_ = left_->getPointer(leftJoinColumn_);
    // A NULL key (a null pointer) has no partner.
    if (key_ != nullptr && right_->findRow(key_)) {
      matching_ = true;
      return true;
    }
  }
  // Back on the last row (or before the first), so that further calls
  // keep answering false without the cursor running on.
  leftCursor_ = leftRowCount_ - 1;
  return false;
}

void JoinedSet::addCurrentRow() { addPair(left_->currentRow, right_->currentRow); }

void JoinedSet::addPair(uint32_t left, uint32_t right) {
  const uint32_t pair[2] = {left, right};
  reserve(kPairWidth);
  std::memcpy(position, pair, kPairWidth);
  position += kPairWidth;
  ++rowCount;
}

void JoinedSet::setRowDerived(unsigned int row) {
  uint32_t pair[2];
  std::memcpy(pair, start() + static_cast<size_t>(row) * kPairWidth, kPairWidth);
  right_->setRow(pair[1]);
  left_->setRow(pair[0]);
}

TableSet& JoinedSet::sideOf(unsigned short& col) {
  if (col < leftColumnCount_) {
    return *left_;
  }
  col = static_cast<unsigned short>(col - leftColumnCount_);
  return *right_;
}

TableSet& JoinedSet::sideOf(const SelectCol& selected) {
  return selected.rightSide ? static_cast<TableSet&>(*right_) : *left_;
}

DATA_TYPE JoinedSet::getSelectDataType(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).table().columnTypes[selected.column];
}

bool JoinedSet::selectMayBeNull(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).table().nullable[selected.column] != 0;
}

std::string JoinedSet::getSelectString(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).getString(selected.column);
}

void* JoinedSet::getSelectPointer(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).getPointer(selected.column);
}

std::array<std::vector<size_t>, 2> JoinedSet::selectBySide() {
  std::array<std::vector<size_t>, 2> slots;
  std::vector<unsigned short> columns[2];
  for (size_t k = 0; k < selected_.size(); ++k) {
    slots[selected_[k].rightSide].push_back(k);
    columns[selected_[k].rightSide].push_back(selected_[k].column);
  }
  left_->selectedColumns = columns[0];
  right_->selectedColumns = columns[1];
  return slots;
}

void JoinedSet::keepSideValues() {
  const std::array<std::vector<size_t>, 2> slots = selectBySide();
  TableSet* const sides[2] = {left_.get(), right_.get()};
  for (int side = 0; side < 2; ++side) {
    // The left rows come in their stored order unless the pairs are sorted;
    // the right rows come in any order.
    const uint64_t share = side == 1 || hasPermutation() ? 1 : kCopiedSideShare;
    const uint64_t rows = sides[side]->rowCount;
    if (slots[side].empty() || rows * share > rowCount) continue;
    copies_[side] = sides[side]->copyStoredValues(false);
    if (copies_[side] != nullptr && side == 1 && !hasPermutation() && rowCount <= rows * kPairOrderedShare) {
      copyInPairOrder();
    }
  }
}

void JoinedSet::copyInPairOrder() {
  std::vector<uint32_t> order(rowCount);
  for (uint32_t i = 0; i < rowCount; ++i) {
    uint32_t pair[2];
    std::memcpy(pair, start() + static_cast<size_t>(i) * kPairWidth, kPairWidth);
    order[i] = right_->storedRow(pair[1]);
  }
  copies_[1] = std::make_unique<CopiedColumns>(copies_[1]->permuted(order));
  rightInPairOrder_ = true;
}

void JoinedSet::selectRows(uint32_t first, uint32_t end, const void** out) {
  // Each side reads its own selected columns for the stored rows its pairs
  // name, and its values are copied to those columns' rows of `out`.
  const std::array<std::vector<size_t>, 2> slots = selectBySide();
  TableSet* const sides[2] = {left_.get(), right_.get()};
  constexpr uint32_t kChunkRows = 256;
  uint32_t rows[2][kChunkRows];
  std::vector<const void*> values(selected_.size() * kChunkRows);
  const size_t count = end - first;
  for (uint32_t position = first; position < end; position += kChunkRows) {
    const uint32_t chunk = std::min(kChunkRows, end - position);
    for (uint32_t i = 0; i < chunk; ++i) {
      const uint32_t stored = storedRow(position + i);
      uint32_t pair[2];
      std::memcpy(pair, start() + static_cast<size_t>(stored) * kPairWidth, kPairWidth);
      rows[0][i] = left_->storedRow(pair[0]);
      rows[1][i] = rightInPairOrder_ ? stored : right_->storedRow(pair[1]);
    }
    for (int side = 0; side < 2; ++side) {
      if (slots[side].empty()) continue;
      const CopiedColumns* const copy = copies_[side].get();
      if (copy == nullptr) sides[side]->selectStored(rows[side], chunk, values.data(), chunk);
      for (size_t j = 0; j < slots[side].size(); ++j) {
        const void** const to = out + slots[side][j] * count + (position - first);
        if (copy != nullptr) {
          for (uint32_t i = 0; i < chunk; ++i) to[i] = copy->at(j, rows[side][i]);
        } else {
          std::copy_n(values.data() + j * chunk, chunk, to);
        }
      }
    }
  }
}

std::string JoinedSet::getString(unsigned short col) { return sideOf(col).getString(col); }

void* JoinedSet::getPointer(unsigned short col) { return sideOf(col).getPointer(col); }

void* JoinedSet::getPointerPath(unsigned short col) { return sideOf(col).getPointerPath(col); }

const void* JoinedSet::getPointerPathOrNull(unsigned short col) { return sideOf(col).getPointerPathOrNull(col); }

unsigned short JoinedSet::getNumberOfSelectCols() {
  return static_cast<unsigned short>(selected_.size());
}

unsigned short JoinedSet::getNumberOfCols() {
  return static_cast<unsigned short>(leftColumnCount_ + rightColumnCount_);
}

namespace {

// The right rows are few when they are at most one in kFewPartnersShare of
// their table's rows.
constexpr uint64_t kFewPartnersShare = 2;

// A condition's answer for one right row, once known.
enum class Answer : unsigned char { Unset, No, Yes };

// The decoded values of `column` at positions 0 .. rowCount - 1 of `side`.
std::vector<const void*> joinValues(TableSet& side, unsigned short column) {
  side.selectedColumns = {column};
  std::vector<const void*> values(side.rowCount);
  side.selectPointers(0, 0, side.rowCount, values.data());
  return values;
}

// Counts rows and pairs handled and looks for an interrupt after every
// kRowsPerInterruptCheck of them.
class InterruptMeter {
 public:
  void add(size_t work) {
    work_ += work;
    if (work_ < kRowsPerInterruptCheck) return;
    checkInterrupt();
    work_ = 0;
  }

 private:
  size_t work_ = 0;
};

// The partners of join keys. Rows of a categorised column hold their value
// at one address per category: a small cache by address saves most
// lookups. Keys of a plain column are looked up each time, a batch at once.
class PartnerLookup {
 public:
  using Range = JoinHashTable::Range;

  PartnerLookup(const JoinHashTable& partners, bool remember)
      : partners_(partners), remembered_(remember ? kRemembered : 0) {}

  // The partners of keys[0 .. count), count at most
  // JoinHashTable::kFindBatch, into found[i].
  void findEach(const void* const* keys, size_t count, Range* found) {
    if (remembered_.empty()) {
      partners_.findEach(keys, count, found);
      return;
    }
    for (size_t i = 0; i < count; ++i) found[i] = find(keys[i]);
  }

 private:
  // The partners of one key of a categorised column, by its address.
  Range find(const void* key) {
    Remembered& slot = remembered_[(reinterpret_cast<uintptr_t>(key) >> 3) % kRemembered];
    if (slot.key != key) slot = {key, partners_.find(key)};
    return slot.found;
  }

  struct Remembered {
    const void* key = nullptr;
    Range found;
  };
  static constexpr size_t kRemembered = 4096;

  const JoinHashTable& partners_;
  std::vector<Remembered> remembered_;
};

// The answers of the right side's conditions per right position, each
// worked out on first need: a right row is the partner of many left rows.
class RightAnswers {
 public:
  // The conditions at `leaves` of `conditions` read right columns numbered
  // after `leftColumns` left ones; their answers go to `clause`.
  RightAnswers(TableSet& right, const std::vector<Condition*>& conditions, std::vector<size_t> leaves,
               unsigned short leftColumns, CombinedBooleanExpression& clause)
      : right_(right),
        conditions_(conditions),
        leaves_(std::move(leaves)),
        leftColumns_(leftColumns),
        clause_(clause),
        answers_(std::make_unique<Answer[]>(static_cast<size_t>(right.rowCount) * leaves_.size())) {}

  // Records in the clause the conditions' answers for right position
  // `partner`.
  void load(uint32_t partner) {
    Answer* answers = answers_.get() + static_cast<size_t>(partner) * leaves_.size();
    bool positioned = false;
    for (size_t j = 0; j < leaves_.size(); ++j) {
      if (answers[j] == Answer::Unset) {
        if (!positioned) {
          right_.setRow(partner);
          positioned = true;
        }
        const Condition& condition = *conditions_[leaves_[j]];
        const auto column = static_cast<unsigned short>(condition.column - leftColumns_);
        answers[j] = condition.evaluateMaybeNull(right_.getPointerPathOrNull(column)) ? Answer::Yes : Answer::No;
      }
      clause_.set(leaves_[j], answers[j] == Answer::Yes);
    }
  }

 private:
  TableSet& right_;
  const std::vector<Condition*>& conditions_;
  std::vector<size_t> leaves_;
  unsigned short leftColumns_;
  CombinedBooleanExpression& clause_;
  // Per right position, one answer per condition; all Unset (zero) at first.
  std::unique_ptr<Answer[]> answers_;
};

// The clause's answer for left position `position` of `left` with every
// partner, from the conditions at `leftLeaves` of `conditions` alone;
// Unknown when the answers of those at `rightLeaves` are needed.
Truth decideByLeft(TableSet& left, uint32_t position, const std::vector<Condition*>& conditions,
                   const std::vector<size_t>& leftLeaves, const std::vector<size_t>& rightLeaves,
                   CombinedBooleanExpression& root) {
  left.setRow(position);
  for (const size_t leaf : leftLeaves) {
    const Condition& condition = *conditions[leaf];
    root.set(leaf, condition.evaluateMaybeNull(left.getPointerPathOrNull(condition.column)));
  }
  for (const size_t leaf : rightLeaves) root.setUnknown(leaf);
  return root.evaluatePartial();
}

// Calls visit(position, partners) for each position of `side` in order
// whose value of `column` has partners, as find(keys, count, found) gives
// them for up to JoinHashTable::kFindBatch values at once. The values are
// read a chunk of positions at a time.
template <typename Find, typename Visit>
void forEachPartnered(TableSet& side, unsigned short column, Find find, Visit visit) {
  constexpr uint32_t kChunkRows = 4096;
  side.selectedColumns = {column};
  std::vector<const void*> keys(kChunkRows);
  JoinHashTable::Range found[JoinHashTable::kFindBatch];
  InterruptMeter meter;
  for (uint32_t chunk = 0; chunk < side.rowCount; chunk += kChunkRows) {
    const uint32_t rows = std::min(kChunkRows, side.rowCount - chunk);
    side.selectPointers(0, chunk, chunk + rows, keys.data());
    for (uint32_t batch = 0; batch < rows; batch += JoinHashTable::kFindBatch) {
      const auto count = static_cast<uint32_t>(std::min<size_t>(JoinHashTable::kFindBatch, rows - batch));
      find(keys.data() + batch, count, found);
      for (uint32_t i = 0; i < count; ++i) {
        const auto [first, last] = found[i];
        meter.add(1 + static_cast<size_t>(last - first));
        if (first != last) visit(chunk + batch + i, found[i]);
      }
    }
  }
}

// Appends `extra` to `conditions`, the leaves of `clause`, and makes the
// clause its old self in brackets "and" `extra`.
void andWith(std::vector<Condition*>& conditions, CombinedBooleanExpression& clause, Condition& extra) {
  clause.andWith(conditions.size());
  conditions.push_back(&extra);
}

// The raw pointers of owned conditions, as filtering takes them.
std::vector<Condition*> pointersTo(const std::vector<std::unique_ptr<Condition>>& owned) {
  std::vector<Condition*> pointers;
  for (const std::unique_ptr<Condition>& condition : owned) pointers.push_back(condition.get());
  return pointers;
}

}  // namespace

std::vector<std::unique_ptr<Condition>> JoinedSet::sideConditions(const std::vector<Condition*>& conditions,
                                                                   bool rightSide) const {
  std::vector<std::unique_ptr<Condition>> side;
  for (Condition* condition : conditions) {
    const bool own = (condition->column >= leftColumnCount_) == rightSide;
    const auto column = static_cast<unsigned short>(rightSide ? condition->column - leftColumnCount_
                                                              : condition->column);
    side.push_back(std::make_unique<SideCondition>(*condition, own ? condition : nullptr,
                                                   own ? column : rightSide ? right_->indexedColumn : leftJoinColumn_));
  }
  return side;
}

bool JoinedSet::readsRight(const Condition& condition) const { return condition.column >= leftColumnCount_; }

void JoinedSet::narrowRight(const std::vector<Condition*>& conditions, const CombinedBooleanExpression& root,
                            const JoinHashTable* partners) {
  const std::vector<std::unique_ptr<Condition>> rightOwned = sideConditions(conditions, true);
  std::vector<Condition*> onRight = pointersTo(rightOwned);
  CombinedBooleanExpression clause = root;
  std::optional<PartnerCondition> partner;
  if (partners != nullptr) andWith(onRight, clause, partner.emplace(*partners, right_->table(), right_->indexedColumn));
  auto rows = std::make_unique<IndexSet>();
  rows->initRows(std::make_unique<TableIterator>(&right_->table()), right_->indexedColumn, onRight, clause);
  setRight(std::move(rows));
}

void JoinedSet::narrowLeft(const std::vector<Condition*>& conditions, const CombinedBooleanExpression& root,
                           const JoinHashTable* partners) {
  const std::vector<std::unique_ptr<Condition>> leftOwned = sideConditions(conditions, false);
  std::vector<Condition*> onLeft = pointersTo(leftOwned);
  CombinedBooleanExpression clause = root;
  std::optional<PartnerCondition> partner;
  if (partners != nullptr) andWith(onLeft, clause, partner.emplace(*partners, left_->table(), leftJoinColumn_));
  // The left rows are always taken from the table: the set given may be
  // unfilled.
  auto left = std::make_unique<TableSet>(std::make_unique<TableIterator>(&left_->table()),
                                         std::vector<unsigned short>{});
  left->processRequest(onLeft, clause);
  setLeft(std::move(left), leftJoinColumn_);
}

void JoinedSet::addPairs(uint32_t left, const uint32_t* first, const uint32_t* last) {
  reserve(static_cast<size_t>(last - first) * kPairWidth);
  char* out = position;
  for (const uint32_t* right = first; right != last; ++right) {
    const uint32_t pair[2] = {left, *right};
    std::memcpy(out, pair, kPairWidth);
    out += kPairWidth;
  }
  position = out;
  rowCount += static_cast<uint32_t>(last - first);
}

void JoinedSet::pairEvery(const JoinHashTable& partners) {
  PartnerLookup lookup(partners, left_->table().isPlain[leftJoinColumn_] == 0);
  forEachPartnered(
      *left_, leftJoinColumn_,
      [&lookup](const void* const* keys, size_t count, JoinHashTable::Range* found) {
        lookup.findEach(keys, count, found);
      },
      [this](uint32_t left, JoinHashTable::Range rights) { addPairs(left, rights.first, rights.second); });
}

void JoinedSet::pairChecked(const JoinHashTable& partners, const std::vector<const void*>& keys,
                            std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  std::vector<size_t> leftLeaves;
  std::vector<size_t> rightLeaves;
  for (size_t k = 0; k < conditions.size(); ++k) (readsRight(*conditions[k]) ? rightLeaves : leftLeaves).push_back(k);
  RightAnswers rightAnswers(*right_, conditions, rightLeaves, leftColumnCount_, root);
  InterruptMeter meter;
  for (uint32_t left = 0; left < leftRowCount_; ++left) {
    const auto [first, last] = partners.find(keys[left]);
    meter.add(1 + static_cast<size_t>(last - first));
    if (first == last) continue;
    const Truth decided = decideByLeft(*left_, left, conditions, leftLeaves, rightLeaves, root);
    if (decided == Truth::False) continue;
    if (decided == Truth::True) {
      addPairs(left, first, last);
      continue;
    }
    for (const uint32_t* partner = first; partner != last; ++partner) {
      rightAnswers.load(*partner);
      if (root.evaluate()) addPair(left, *partner);
    }
  }
}

void JoinedSet::pairFromRight(const JoinHashTable& partners) {
  // Pairs come in right order; a counting pass over the left positions
  // puts them in left order, each left row's partners staying ascending.
  struct Hit {
    const uint32_t* lefts;
    uint32_t count;
    uint32_t right;
  };
  std::vector<Hit> hits;
  hits.reserve(right_->rowCount);
  std::vector<uint32_t> starts(static_cast<size_t>(leftRowCount_) + 1, 0);
  forEachPartnered(
      *right_, right_->indexedColumn,
      [&partners](const void* const* keys, size_t count, JoinHashTable::Range* found) {
        partners.findEach(keys, count, found);
      },
      [&](uint32_t right, JoinHashTable::Range lefts) {
        hits.push_back(Hit{lefts.first, static_cast<uint32_t>(lefts.second - lefts.first), right});
        for (const uint32_t* left = lefts.first; left != lefts.second; ++left) ++starts[*left + 1];
      });
  for (size_t left = 1; left < starts.size(); ++left) starts[left] += starts[left - 1];
  const uint32_t pairs = starts.back();
  reserve(static_cast<size_t>(pairs) * kPairWidth);
  char* const out = position;
  for (const Hit& hit : hits) {
    for (const uint32_t* left = hit.lefts; left != hit.lefts + hit.count; ++left) {
      const uint32_t pair[2] = {*left, hit.right};
      std::memcpy(out + static_cast<size_t>(starts[*left]++) * kPairWidth, pair, kPairWidth);
    }
  }
  position = out + static_cast<size_t>(pairs) * kPairWidth;
  rowCount += pairs;
}

bool JoinedSet::buildOnLeft(const std::vector<Condition*>& conditions, const CombinedBooleanExpression& root,
                            uint32_t rightRows, bool fewPartners, bool& leftNarrowed) {
  if (fewPartners) return false;
  const auto left = [this](const Condition* condition) { return !readsRight(*condition); };
  if (std::any_of(conditions.begin(), conditions.end(), left)) {
    narrowLeft(conditions, root, nullptr);
    leftNarrowed = true;
    return left_->rowCount < rightRows;
  }
  return left_->table().numRows < rightRows;
}

void JoinedSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  if (left_ == nullptr || right_ == nullptr || leftCursor_ != UINT32_MAX) {
    ResultSet::filterRows(conditions, root);
    return;
  }
  std::vector<bool> rightSide;
  for (const Condition* condition : conditions) rightSide.push_back(readsRight(*condition));
  // When the clause is an "and" of parts that each read one side, a pair
  // passes exactly when both its rows passed their side's narrowing, so
  // every pair of partners is kept.
  const bool split = root.splitsBy(rightSide);
  // Without a condition on them, every right row is taken, and only once
  // the side to build on is known.
  const bool rightNarrowed = std::find(rightSide.begin(), rightSide.end(), true) != rightSide.end();
  if (rightNarrowed) narrowRight(conditions, root, nullptr);
  const uint32_t rightRows = rightNarrowed ? right_->rowCount : right_->table().numRows;
  // When the right rows left are a small part of their table, most left
  // rows are likely to have no partner: the left narrowing leaves those out
  // too, asking the hash table by the join column alone.
  const bool fewPartners = static_cast<uint64_t>(rightRows) * kFewPartnersShare <= right_->table().numRows;
  bool leftNarrowed = false;
  if (split && buildOnLeft(conditions, root, rightRows, fewPartners, leftNarrowed)) {
    if (!leftNarrowed) narrowLeft(conditions, root, nullptr);
    const JoinHashTable partners(left_->table().columnTypes[leftJoinColumn_], joinValues(*left_, leftJoinColumn_),
                                 true);
    // Unless the right rows were narrowed already, those without a partner
    // are left out as they are read.
    if (!rightNarrowed) narrowRight(conditions, root, &partners);
    pairFromRight(partners);
  } else {
    if (!rightNarrowed) narrowRight(conditions, root, nullptr);
    const JoinHashTable partners(right_->table().columnTypes[right_->indexedColumn],
                                 joinValues(*right_, right_->indexedColumn), fewPartners);
    // A bitmap of the right values answers the left narrowing's question
    // at the cost of one bit a row.
    if (!leftNarrowed) narrowLeft(conditions, root, fewPartners || partners.keepsBitmap() ? &partners : nullptr);
    if (split) {
      pairEvery(partners);
    } else {
      pairChecked(partners, joinValues(*left_, leftJoinColumn_), conditions, root);
    }
  }
  // Left as the row-by-row walk leaves it: past the last left row.
  leftCursor_ = leftRowCount_ - 1;
  matching_ = false;
}
