#include "query/joined_set.h"

#include <cstring>
#include <utility>

#include "query/combined_boolean_expression.h"
#include "query/condition.h"

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

std::string JoinedSet::getString(unsigned short col) { return sideOf(col).getString(col); }

void* JoinedSet::getPointer(unsigned short col) { return sideOf(col).getPointer(col); }

void* JoinedSet::getPointerPath(unsigned short col) { return sideOf(col).getPointerPath(col); }

unsigned short JoinedSet::getNumberOfSelectCols() {
  return static_cast<unsigned short>(selected_.size());
}

unsigned short JoinedSet::getNumberOfCols() {
  return static_cast<unsigned short>(leftColumnCount_ + rightColumnCount_);
}

void JoinedSet::findPartners(std::vector<uint32_t>& partners) {
  partners.clear();
  key_ = left_->getPointer(leftJoinColumn_);
  for (bool found = right_->findRow(key_); found; found = right_->checkNextRow(key_)) {
    partners.push_back(right_->cursor);
  }
}

namespace {

// A condition's answer for one right row, once known.
enum class Answer : unsigned char { Unset, No, Yes };

// Clears the conditions' unknown flags however filtering ends.
class UnknownGuard {
 public:
  explicit UnknownGuard(std::vector<Condition*>& conditions) : conditions_(conditions) {}
  ~UnknownGuard() {
    for (Condition* condition : conditions_) condition->unknown = false;
  }
  UnknownGuard(const UnknownGuard&) = delete;
  UnknownGuard& operator=(const UnknownGuard&) = delete;

 private:
  std::vector<Condition*>& conditions_;
};

}  // namespace

void JoinedSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  if (left_ == nullptr || right_ == nullptr || leftCursor_ != UINT32_MAX) {
    ResultSet::filterRows(conditions, root);
    return;
  }
  const UnknownGuard clearFlags(conditions);
  std::vector<Condition*> leftConditions;
  std::vector<Condition*> rightConditions;
  for (Condition* condition : conditions) {
    (condition->column < leftColumnCount_ ? leftConditions : rightConditions).push_back(condition);
  }
  // Answers of the right-side conditions per right index position.
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
  // Without left-side conditions a pair's fate depends on its right row
  // alone: decided once per right row.
  std::vector<Answer> rightDecision(leftConditions.empty() ? right_->rowCount : 0, Answer::Unset);
  const auto rightPasses = [&](uint32_t partner) {
    Answer& decision = rightDecision[partner];
    if (decision == Answer::Unset) {
      loadRightAnswers(partner);
      decision = root.evaluate() ? Answer::Yes : Answer::No;
    }
    return decision == Answer::Yes;
  };

  // Partner lists per left category number, when the left join column is
  // categorised: rows with one number have one key.
  const TreeTable& leftTable = left_->table();
  const bool keyedByNumber = leftTable.isPlain[leftJoinColumn_] == 0;
  std::vector<int32_t> listOfNumber(keyedByNumber ? 65536 : 0, -1);
  std::vector<std::vector<uint32_t>> lists;
  std::vector<uint32_t> partners;

  // Without left-side conditions a left row is only needed for its key:
  // its number is read from the stored reference, and the row positioned
  // only to look a new key up.
  const bool keyOnly = keyedByNumber && leftConditions.empty();
  for (uint32_t left = 0; left < leftRowCount_; ++left) {
    const uint32_t stored = left_->storedRow(left);
    const auto position = [&] {
      left_->currentRow = left;
      left_->setRowDerived(stored);
    };
    if (!keyOnly) position();
    const std::vector<uint32_t>* found = &partners;
    if (keyedByNumber) {
      unsigned short number = 0;
      if (keyOnly) {
        number = left_->categoryNumberAt(stored, leftJoinColumn_);
      } else {
        std::memcpy(&number, left_->getPointerPath(leftJoinColumn_), sizeof number);
      }
      int32_t& list = listOfNumber[number];
      if (list < 0) {
        if (keyOnly) position();
        findPartners(partners);
        list = static_cast<int32_t>(lists.size());
        lists.push_back(partners);
      }
      found = &lists[static_cast<size_t>(list)];
    } else {
      findPartners(partners);
    }
    if (found->empty()) continue;

    if (leftConditions.empty()) {
      for (const uint32_t partner : *found) {
        if (rightPasses(partner)) addPair(left, partner);
      }
      continue;
    }
    for (Condition* condition : leftConditions) {
      condition->evaluate(left_->getPointerPath(condition->column));
      condition->unknown = false;
    }
    for (Condition* condition : rightConditions) condition->unknown = true;
    const Truth decided = root.evaluatePartial();
    if (decided == Truth::False) continue;
    for (const uint32_t partner : *found) {
      if (decided == Truth::True) {
        addPair(left, partner);
        continue;
      }
      loadRightAnswers(partner);
      if (root.evaluate()) addPair(left, partner);
    }
  }
  // Left as the row-by-row walk leaves it: past the last left row.
  leftCursor_ = leftRowCount_ - 1;
  matching_ = false;
}
