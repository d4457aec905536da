// StringColumnMap: texts stored once, kept in byte order by a sorted vector
// of their offsets, found by a hash index that is rebuilt when the store moves.

#include "storage/string_column_map.h"

#include <algorithm>
#include <iterator>

#include "errors/database_exception.h"
#include "storage/category_numbering.h"
#include "storage/full_level_exception.h"

namespace {

const char* text(void* value) { return static_cast<const char*>(value); }

}  // namespace

void StringColumnMap::rebuildIndex() {
  index_.clear();
  for (const Entries* entries : {&ordered_, &pending_}) {
    for (const Entry& entry : *entries) index_.insert(textOf(entry), std::strlen(textOf(entry)), entry.number);
  }
}

void StringColumnMap::settle() noexcept {
  category_numbering::merge(ordered_, pending_, [this](const Entry& a, const Entry& b) {
    return std::strcmp(textOf(a), textOf(b)) < 0;
  });
}

StringColumnMap::Entries::iterator StringColumnMap::firstNotLess(const char* value) {
  return std::lower_bound(ordered_.begin(), ordered_.end(), value, [this](const Entry& entry, const char* probe) {
    return std::strcmp(textOf(entry), probe) < 0;
  });
}

unsigned short StringColumnMap::getInt(void* value) { return getIntOfText(text(value), std::strlen(text(value))); }

unsigned short StringColumnMap::getIntOfText(const char* value, size_t length) {
  const unsigned short* found = index_.find(value, length);
  return found == nullptr ? 0 : *found;
}

unsigned short StringColumnMap::getIntLessEq(void* value) {
  settle();
  const auto found = firstNotLess(text(value));
  return category_numbering::lessEqual(ordered_, found, isKey(found, text(value)));
}

unsigned short StringColumnMap::getIntGreatEQ(void* value) {
  settle();
  const auto found = firstNotLess(text(value));
  return category_numbering::greaterEqual(ordered_, found, isKey(found, text(value)));
}

bool StringColumnMap::add(void* value) {
  const char* newText = text(value);
  if (holds(newText)) return false;
  requireRoomFor(newText);
  const size_t length = std::strlen(newText);
  reserveText(length);
  settle();
  const auto successor = firstNotLess(newText);
  unsigned short number = 0;
  if (!category_numbering::candidateBefore(ordered_, successor, number) || taken_.contains(number)) return false;
  const auto at = successor - ordered_.begin();
  category_numbering::reserveOneMore(ordered_);
  ordered_.insert(ordered_.begin() + at, storeText(newText, length, number));
  taken_.insert(number);
  return true;
}

unsigned short StringColumnMap::addUnordered(void* value) {
  const char* newText = text(value);
  if (holds(newText)) return getInt(value);
  requireRoomFor(newText);
  const unsigned short number = category_numbering::freeNumber(taken_, freeHint_);
  if (number == 0) return 0;
  leaveOrder();
  const size_t length = std::strlen(newText);
  reserveText(length);
  category_numbering::reserveForMerge(ordered_, pending_.size());
  category_numbering::reserveOneMore(pending_);
  pending_.push_back(storeText(newText, length, number));
  taken_.insert(number);
  return number;
}

void StringColumnMap::requireRoomFor(const char* newText) const {
  if (taken_.size() > MAX_TEXTS) {
    throw FullLevelException(FullLevelException::kNoColumn,
                             string_format("Category exceeds max size of %d, unable to add value %s",
                                           static_cast<int>(MAX_TEXTS), newText));
  }
}

bool StringColumnMap::add(void* value, unsigned short number) {
  const char* newText = text(value);
  return addText(newText, std::strlen(newText), number);
}

bool StringColumnMap::addText(const char* newText, size_t length, unsigned short number) {
  if (index_.find(newText, length) != nullptr) return false;
  leaveOrder();
  reserveText(length);
  // The text waits beside the order, as in ColumnMap::add(value, number).
  category_numbering::reserveForMerge(ordered_, pending_.size());
  category_numbering::reserveOneMore(pending_);
  pending_.push_back(storeText(newText, length, number));
  return true;
}

bool StringColumnMap::containsValue(void* value) { return holds(text(value)); }

bool StringColumnMap::holds(const char* value) { return index_.find(value, std::strlen(value)) != nullptr; }

bool StringColumnMap::containsInt(unsigned short number) { return taken_.contains(number); }

void StringColumnMap::recalculatePositions() {
  settle();
  category_numbering::spread(ordered_, taken_, [](unsigned short, unsigned short) {});
  enterOrder();
  rebuildIndex();
}

void StringColumnMap::renumber(unsigned short* translation) {
  settle();
  category_numbering::spread(ordered_, taken_,
                             [translation](unsigned short old, unsigned short number) { translation[old] = number; });
  enterOrder();
  // One pass over the index rather than a lookup per text.
  index_.updateValues([translation](unsigned short old) { return translation[old]; });
}

void StringColumnMap::getAllInts(std::vector<unsigned short>& out) {
  out.clear();
  out.reserve(taken_.size());
  taken_.forEach([&out](unsigned short number) { out.push_back(number); });
}

uint64_t StringColumnMap::getSize() { return ordered_.size() + pending_.size(); }

void* StringColumnMap::getValuePointer(unsigned short number) const {
  if (!taken_.contains(number)) return nullptr;
  if (!numbersInOrder_) return const_cast<char*>(start() + slots_.at(number));
  const auto found = std::lower_bound(ordered_.begin(), ordered_.end(), number,
                                      [](const Entry& entry, unsigned short n) { return entry.number < n; });
  return const_cast<char*>(textOf(*found));
}

void StringColumnMap::leaveOrder() {
  if (!numbersInOrder_) return;
  for (const Entries* entries : {&ordered_, &pending_}) {
    for (const Entry& entry : *entries) slots_.place(entry.number, entry.offset);
  }
  numbersInOrder_ = false;
}

void StringColumnMap::enterOrder() noexcept {
  numbersInOrder_ = true;
  slots_.clear();
}

std::unique_ptr<ColumnMapBase> StringColumnMap::clone() const {
  auto copy = std::make_unique<StringColumnMap>();
  copy->reserve(used());
  std::memcpy(copy->start(), start(), used());
  copy->position = copy->start() + used();
  // The copy's texts lie at the same offsets in its own store.
  copy->ordered_ = ordered_;
  copy->ordered_.reserve(ordered_.size() + pending_.size());
  copy->pending_ = pending_;
  copy->taken_ = taken_;
  copy->numbersInOrder_ = numbersInOrder_;
  copy->slots_ = slots_;
  copy->freeHint_ = freeHint_;
  copy->settle();
  copy->rebuildIndex();
  return copy;
}

void StringColumnMap::reserveText(size_t length) {
  while (used() + length + 1 > capacity()) {
    char* const oldStart = start();
    increaseBuffer();
    if (start() != oldStart) rebuildIndex();
  }
}

StringColumnMap::Entry StringColumnMap::storeText(const char* newText, size_t length, unsigned short number) {
  char* const copy = position;
  if (!numbersInOrder_) slots_.place(number, static_cast<uint32_t>(copy - start()));
  std::memcpy(copy, newText, length + 1);
  index_.insert(copy, length, number);
  position += length + 1;
  return Entry{static_cast<uint32_t>(copy - start()), number};
}

bool StringColumnMap::isKey(Entries::const_iterator found, const char* value) const {
  return found != ordered_.end() && std::strcmp(textOf(*found), value) == 0;
}
