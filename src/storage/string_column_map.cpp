// StringColumnMap: texts stored once, numbered in text order by an ordered map,
// found by a hash index; both are re-pointed when the store moves.

#include "storage/string_column_map.h"

#include <iterator>

#include "errors/database_exception.h"
#include "storage/column_map.h"
#include "storage/full_level_exception.h"

namespace {

const char* text(void* value) { return static_cast<const char*>(value); }

}  // namespace

void StringColumnMap::rebuildIndex() {
  index_.clear();
  for (const auto& [key, number] : valueToInt) index_.insert(key, std::strlen(key), number);
  for (const auto& node : pending_) index_.insert(node.key(), std::strlen(node.key()), node.mapped());
}

void StringColumnMap::settle() noexcept { category_numbering::insertSorted(valueToInt, pending_); }

void StringColumnMap::setIndexedNumber(const char* stored, unsigned short number) {
  *index_.find(stored, std::strlen(stored)) = number;
}

unsigned short StringColumnMap::getInt(void* value) { return getIntOfText(text(value), std::strlen(text(value))); }

unsigned short StringColumnMap::getIntOfText(const char* value, size_t length) {
  const unsigned short* found = index_.find(value, length);
  return found == nullptr ? 0 : *found;
}

unsigned short StringColumnMap::getIntLessEq(void* value) {
  settle();
  const auto found = valueToInt.lower_bound(text(value));
  return category_numbering::lessEqual(valueToInt, found, isKey(found, text(value)));
}

unsigned short StringColumnMap::getIntGreatEQ(void* value) {
  settle();
  const auto found = valueToInt.lower_bound(text(value));
  return category_numbering::greaterEqual(valueToInt, found, isKey(found, text(value)));
}

bool StringColumnMap::add(void* value) {
  const char* newText = text(value);
  if (holds(newText)) return false;
  requireRoomFor(newText);
  const size_t length = std::strlen(newText);
  reserveText(length);
  settle();
  const auto successor = valueToInt.lower_bound(newText);
  unsigned short number = 0;
  if (!category_numbering::candidateBefore(valueToInt, successor, number)) return false;
  if (intToValue.count(number) != 0) return false;
  enterText(newText, length, number, successor);
  return true;
}

unsigned short StringColumnMap::addUnordered(void* value) {
  const char* newText = text(value);
  if (holds(newText)) return getInt(value);
  requireRoomFor(newText);
  const unsigned short number = category_numbering::freeNumber(intToValue, freeHint_);
  if (number == 0) return 0;
  const size_t length = std::strlen(newText);
  reserveText(length);
  // The text waits outside the ordered map in a node of its own, as in
  // ColumnMap::addUnordered.
  ValueMap single;
  auto node = single.extract(single.emplace(nullptr, number).first);
  category_numbering::reserveOneMore(pending_);
  char* copy = storeText(newText, length);
  node.key() = copy;
  intToValue.emplace_hint(intToValue.end(), number, copy);
  pending_.push_back(std::move(node));
  index_.insert(copy, length, number);
  return number;
}

void StringColumnMap::requireRoomFor(const char* newText) const {
  if (intToValue.size() > MAX_TEXTS) {
    throw FullLevelException(FullLevelException::kNoColumn,
                             string_format("Category exceeds max size of %d, unable to add value %s",
                                           static_cast<int>(MAX_TEXTS), newText));
  }
}

void StringColumnMap::enterText(const char* newText, size_t length, unsigned short number,
                                ValueMap::const_iterator hint) {
  char* copy = storeText(newText, length);
  valueToInt.emplace_hint(hint, copy, number);
  index_.insert(copy, length, number);
  intToValue.emplace(number, copy);
}

void StringColumnMap::add(void* value, unsigned short number) {
  const char* newText = text(value);
  addText(newText, std::strlen(newText), number);
}

bool StringColumnMap::addText(const char* newText, size_t length, unsigned short number) {
  if (index_.find(newText, length) != nullptr) return false;
  reserveText(length);
  settle();
  char* copy = storeText(newText, length);
  valueToInt.emplace(copy, number);
  index_.insert(copy, length, number);
  return true;
}

bool StringColumnMap::containsValue(void* value) { return holds(text(value)); }

bool StringColumnMap::holds(const char* value) { return index_.find(value, std::strlen(value)) != nullptr; }

bool StringColumnMap::containsInt(unsigned short number) { return intToValue.count(number) != 0; }

void StringColumnMap::recalculatePositions() {
  settle();
  category_numbering::spread(valueToInt, [](const auto&, unsigned short) {});
  intToValue.clear();
  for (const auto& [key, number] : valueToInt) {
    intToValue.emplace_hint(intToValue.end(), number, key);
    setIndexedNumber(key, number);
  }
}

void StringColumnMap::renumber(unsigned short* translation) {
  settle();
  category_numbering::spread(valueToInt,
                             [translation](const auto& entry, unsigned short old) { translation[old] = entry.second; });
  category_numbering::rekey(intToValue, valueToInt, translation, [](const auto& entry) { return entry.first; });
  // One pass over the index rather than a lookup per text.
  index_.updateValues([translation](unsigned short old) { return translation[old]; });
}

void StringColumnMap::getAllInts(std::vector<unsigned short>& out) {
  out.clear();
  out.reserve(intToValue.size());
  for (const auto& entry : intToValue) out.push_back(entry.first);
}

uint64_t StringColumnMap::getSize() { return valueToInt.size() + pending_.size(); }

void* StringColumnMap::getValuePointer(unsigned short number) const {
  const auto found = intToValue.find(number);
  return found == intToValue.end() ? nullptr : found->second;
}

std::unique_ptr<ColumnMapBase> StringColumnMap::clone() const {
  auto copy = std::make_unique<StringColumnMap>();
  copy->reserve(used());
  std::memcpy(copy->start(), start(), used());
  copy->position = copy->start() + used();
  // The copy's texts lie at the same offsets in its own store.
  const auto moved = [this, &copy](const char* stored) { return copy->start() + (stored - start()); };
  for (const auto& [stored, number] : valueToInt) {
    char* const text = moved(stored);
    copy->valueToInt.emplace_hint(copy->valueToInt.end(), text, number);
    copy->intToValue.emplace(number, text);
  }
  for (const auto& node : pending_) {
    char* const text = moved(node.key());
    copy->valueToInt.emplace(text, node.mapped());
    copy->intToValue.emplace(node.mapped(), text);
  }
  copy->rebuildIndex();
  return copy;
}

void StringColumnMap::updateValues(char* oldStart) {
  // The old block is gone: only its address is used, as an integer, to find
  // each text's offset.
  const auto oldBase = reinterpret_cast<uintptr_t>(oldStart);
  char* const newStart = start();
  const auto rebase = [oldBase, newStart](char* stored) {
    return newStart + (reinterpret_cast<uintptr_t>(stored) - oldBase);
  };
  for (auto& entry : intToValue) entry.second = rebase(entry.second);
  // Moving the nodes keeps the order (the texts are unchanged) and allocates
  // nothing: each is re-keyed and appended at the end of the new map.
  ValueMap rebased;
  while (!valueToInt.empty()) {
    auto node = valueToInt.extract(valueToInt.begin());
    node.key() = rebase(node.key());
    rebased.insert(rebased.end(), std::move(node));
  }
  valueToInt.swap(rebased);
  for (auto& node : pending_) node.key() = rebase(node.key());
  rebuildIndex();
}

void StringColumnMap::reserveText(size_t length) {
  while (used() + length + 1 > capacity()) {
    char* const oldStart = start();
    increaseBuffer();
    if (start() != oldStart) updateValues(oldStart);
  }
}

char* StringColumnMap::storeText(const char* newText, size_t length) {
  char* const copy = position;
  std::memcpy(copy, newText, length + 1);
  position += length + 1;
  return copy;
}

bool StringColumnMap::isKey(ValueMap::const_iterator found, const char* value) const {
  return found != valueToInt.end() && std::strcmp(found->first, value) == 0;
}
