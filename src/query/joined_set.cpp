// The pairs of an equality join, found through a hash table of the right
// rows, and the filter that checks each pair's conditions.

#include "query/joined_set.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "errors/interruption.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/join_hash_table.h"
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

void JoinedSet::setRow(unsigned int row) {
  currentRow = row;
  setRowDerived(storedRow(row));
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
    left_->currentRow = leftCursor_;
    left_->setRowDerived(left_->storedRow(leftCursor_));
    key_ = left_->getPointer(leftJoinColumn_);
    if (right_->findRow(key_)) {
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
  right_->currentRow = pair[1];
  right_->setRowDerived(right_->storedRow(pair[1]));
  left_->currentRow = pair[0];
  left_->setRowDerived(left_->storedRow(pair[0]));
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

std::string JoinedSet::getSelectString(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).getString(selected.column);
}

void* JoinedSet::getSelectPointer(unsigned short k) {
  const SelectCol& selected = selected_[k];
  return sideOf(selected).getPointer(selected.column);
}

void JoinedSet::selectRows(uint32_t first, uint32_t end, const void** out) {
  // Each side reads its own selected columns for the stored rows its pairs
  // name, and its values are copied to those columns' rows of `out`.
  std::vector<size_t> slots[2];
  std::vector<unsigned short> columns[2];
  for (size_t k = 0; k < selected_.size(); ++k) {
    slots[selected_[k].rightSide].push_back(k);
    columns[selected_[k].rightSide].push_back(selected_[k].column);
  }
  TableSet* const sides[2] = {left_.get(), right_.get()};
  for (int side = 0; side < 2; ++side) sides[side]->selectedColumns = columns[side];
  constexpr uint32_t kChunkRows = 256;
  uint32_t rows[2][kChunkRows];
  std::vector<const void*> values(selected_.size() * kChunkRows);
  const size_t count = end - first;
  for (uint32_t position = first; position < end; position += kChunkRows) {
    const uint32_t chunk = std::min(kChunkRows, end - position);
    for (uint32_t i = 0; i < chunk; ++i) {
      uint32_t pair[2];
      std::memcpy(pair, start() + static_cast<size_t>(storedRow(position + i)) * kPairWidth, kPairWidth);
      rows[0][i] = left_->storedRow(pair[0]);
      rows[1][i] = right_->storedRow(pair[1]);
    }
    for (int side = 0; side < 2; ++side) {
      if (slots[side].empty()) continue;
      sides[side]->selectStored(rows[side], chunk, values.data(), chunk);
      for (size_t j = 0; j < slots[side].size(); ++j) {
        std::copy_n(values.data() + j * chunk, chunk, out + slots[side][j] * count + (position - first));
      }
    }
  }
}

std::string JoinedSet::getString(unsigned short col) { return sideOf(col).getString(col); }

void* JoinedSet::getPointer(unsigned short col) { return sideOf(col).getPointer(col); }

void* JoinedSet::getPointerPath(unsigned short col) { return sideOf(col).getPointerPath(col); }

unsigned short JoinedSet::getNumberOfSelectCols() {
  return static_cast<unsigned short>(selected_.size());
}

unsigned short JoinedSet::getNumberOfCols() {
  return static_cast<unsigned short>(leftColumnCount_ + rightColumnCount_);
}

namespace {

// A condition's answer for one right row, once known.
enum class Answer : unsigned char { Unset, No, Yes };

// The decoded values of `column` at positions 0 .. rowCount - 1 of `side`.
std::vector<const void*> joinValues(TableSet& side, unsigned short column) {
  side.selectedColumns = {column};
  std::vector<const void*> values(side.rowCount);
  side.selectPointers(0, 0, side.rowCount, values.data());
  return values;
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

void JoinedSet::narrowSides(const std::vector<Condition*>& conditions) {
  const bool onRight = std::any_of(conditions.begin(), conditions.end(),
                                   [this](const Condition* c) { return c->column >= leftColumnCount_; });
  const auto narrow = [&](bool rightSide, auto&& keep) {
    const std::vector<std::unique_ptr<Condition>> owned = sideConditions(conditions, rightSide);
    std::vector<Condition*> side;
    for (const std::unique_ptr<Condition>& condition : owned) side.push_back(condition.get());
    keep(side);
  };
  // The left rows are always taken from the table: the set given may be
  // unfilled.
  narrow(false, [&](std::vector<Condition*>& side) {
    auto rows = std::make_unique<TableSet>(std::make_unique<TableIterator>(&left_->table()),
                                           std::vector<unsigned short>{});
    rows->processRequest(side);
    setLeft(std::move(rows), leftJoinColumn_);
  });
  if (onRight) {
    narrow(true, [&](std::vector<Condition*>& side) {
      auto rows = std::make_unique<IndexSet>();
      rows->initRows(std::make_unique<TableIterator>(&right_->table()), right_->indexedColumn, side);
      setRight(std::move(rows));
    });
  }
}

void JoinedSet::pairEvery(const JoinHashTable& partners, const std::vector<const void*>& keys) {
  // Rows of a categorised column hold their value at one address per
  // category: a small cache by address saves most lookups.
  struct Remembered {
    const void* key = nullptr;
    std::pair<const uint32_t*, const uint32_t*> found;
  };
  constexpr size_t kRemembered = 4096;
  const bool remember = left_->table().isPlain[leftJoinColumn_] == 0;
  std::vector<Remembered> remembered(remember ? kRemembered : 0);
  size_t work = 0;  // rows and pairs since the last interrupt check
  for (uint32_t left = 0; left < leftRowCount_; ++left) {
    const void* key = keys[left];
    std::pair<const uint32_t*, const uint32_t*> found;
    if (remember) {
      Remembered& slot = remembered[(reinterpret_cast<uintptr_t>(key) >> 3) % kRemembered];
      if (slot.key != key) slot = {key, partners.find(key)};
      found = slot.found;
    } else {
      found = partners.find(key);
    }
    const auto [first, last] = found;
    work += 1 + static_cast<size_t>(last - first);
    if (work >= kRowsPerInterruptCheck) {
      checkInterrupt();
      work = 0;
    }
    if (first == last) continue;
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
}

void JoinedSet::pairChecked(const JoinHashTable& partners, const std::vector<const void*>& keys,
                            std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  std::vector<Condition*> leftConditions;
  std::vector<Condition*> rightConditions;
  for (Condition* condition : conditions) {
    (condition->column < leftColumnCount_ ? leftConditions : rightConditions).push_back(condition);
  }
  // Answers of the right-side conditions per right position.
  const size_t rightCount = rightConditions.size();
  std::vector<Answer> rightAnswers(static_cast<size_t>(right_->rowCount) * rightCount, Answer::Unset);
  const auto loadRightAnswers = [&](uint32_t partner) {
    Answer* answers = rightAnswers.data() + static_cast<size_t>(partner) * rightCount;
    bool positioned = false;
    for (size_t j = 0; j < rightCount; ++j) {
      Condition& condition = *rightConditions[j];
      if (answers[j] == Answer::Unset) {
        if (!positioned) {
          right_->currentRow = partner;
          right_->setRowDerived(right_->storedRow(partner));
          positioned = true;
        }
        answers[j] = condition.evaluate(right_->getPointerPath(
                         static_cast<unsigned short>(condition.column - leftColumnCount_)))
                         ? Answer::Yes
                         : Answer::No;
      }
      condition.result = answers[j] == Answer::Yes;
      condition.unknown = false;
    }
  };
  size_t work = 0;  // rows and pairs since the last interrupt check
  for (uint32_t left = 0; left < leftRowCount_; ++left) {
    const auto [first, last] = partners.find(keys[left]);
    work += 1 + static_cast<size_t>(last - first);
    if (work >= kRowsPerInterruptCheck) {
      checkInterrupt();
      work = 0;
    }
    if (first == last) continue;
    left_->currentRow = left;
    left_->setRowDerived(left_->storedRow(left));
    for (Condition* condition : leftConditions) {
      condition->evaluate(left_->getPointerPath(condition->column));
      condition->unknown = false;
    }
    for (Condition* condition : rightConditions) condition->unknown = true;
    const Truth decided = root.evaluatePartial();
    if (decided == Truth::False) continue;
    for (const uint32_t* partner = first; partner != last; ++partner) {
      if (decided == Truth::True) {
        addPair(left, *partner);
        continue;
      }
      loadRightAnswers(*partner);
      if (root.evaluate()) addPair(left, *partner);
    }
  }
}

void JoinedSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  if (left_ == nullptr || right_ == nullptr || leftCursor_ != UINT32_MAX) {
    ResultSet::filterRows(conditions, root);
    return;
  }
  const UnknownFlags clearFlags(conditions);
  narrowSides(conditions);
  const JoinHashTable partners(right_->table().columnTypes[right_->indexedColumn],
                               joinValues(*right_, right_->indexedColumn));
  const std::vector<const void*> keys = joinValues(*left_, leftJoinColumn_);
  std::vector<bool> rightSide;
  for (const Condition* condition : conditions) rightSide.push_back(condition->column >= leftColumnCount_);
  // When the clause is an "and" of parts that each read one side, a pair
  // passes exactly when both its rows passed their side's narrowing, so
  // every pair of partners is kept.
  if (root.splitsBy(rightSide)) {
    pairEvery(partners, keys);
  } else {
    pairChecked(partners, keys, conditions, root);
  }
  // Left as the row-by-row walk leaves it: past the last left row.
  leftCursor_ = leftRowCount_ - 1;
  matching_ = false;
}
