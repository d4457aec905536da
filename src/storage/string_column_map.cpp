#include "storage/string_column_map.h"

#include <iterator>

#include "errors/database_exception.h"
#include "storage/column_map.h"

namespace {

const char* text(void* value) { return static_cast<const char*>(value); }

}  // namespace

StringColumnMap::ValueMap::iterator StringColumnMap::findText(const char* value, size_t length) {
  const auto* found = index_.find(value, length);
  return found == nullptr ? valueToInt.end() : *found;
}

void StringColumnMap::rebuildIndex() {
  index_.clear();
  for (auto entry = valueToInt.begin(); entry != valueToInt.end(); ++entry) {
    index_.insert(entry->first, std::strlen(entry->first), entry);
  }
}

unsigned short StringColumnMap::getInt(void* value) {
  const auto found = findText(text(value));
  return found == valueToInt.end() ? 0 : found->second;
}

unsigned short StringColumnMap::getIntOfText(const char* value, size_t length) {
  const auto found = findText(value, length);
  return found == valueToInt.end() ? 0 : found->second;
}

unsigned short StringColumnMap::getIntLessEq(void* value) {
  const auto found = valueToInt.lower_bound(text(value));
  return category_numbering::lessEqual(valueToInt, found, isKey(found, text(value)));
}

unsigned short StringColumnMap::getIntGreatEQ(void* value) {
  const auto found = valueToInt.lower_bound(text(value));
  return category_numbering::greaterEqual(valueToInt, found, isKey(found, text(value)));
}

bool StringColumnMap::add(void* value) {
  const char* newText = text(value);
  if (findText(newText) != valueToInt.end()) return false;
  if (intToValue.size() > MAX_TEXTS) {
    throw DatabaseException("Category exceeds max size of %d, unable to add value %s", static_cast<int>(MAX_TEXTS),
                            newText);
  }
  const size_t length = std::strlen(newText);
  reserveText(length);
  const auto successor = valueToInt.lower_bound(newText);
  const unsigned short* successorNumber = successor == valueToInt.end() ? nullptr : &successor->second;
  const unsigned short* predecessorNumber =
      successor == valueToInt.begin() ? nullptr : &std::prev(successor)->second;
  unsigned short number = 0;
  if (!category_numbering::candidate(predecessorNumber, successorNumber, number)) return false;
  if (intToValue.count(number) != 0) return false;
  char* copy = storeText(newText, length);
  const auto entry = valueToInt.emplace_hint(successor, copy, number);
  index_.insert(copy, length, entry);
  intToValue.emplace(number, copy);
  return true;
}

void StringColumnMap::add(void* value, unsigned short number) {
  const char* newText = text(value);
  addText(newText, std::strlen(newText), number);
}

void StringColumnMap::addText(const char* newText, size_t length, unsigned short number) {
  if (findText(newText, length) != valueToInt.end()) return;
  reserveText(length);
  char* copy = storeText(newText, length);
  index_.insert(copy, length, valueToInt.emplace(copy, number).first);
}

bool StringColumnMap::containsValue(void* value) { return findText(text(value)) != valueToInt.end(); }

bool StringColumnMap::containsInt(unsigned short number) { return intToValue.count(number) != 0; }

void StringColumnMap::recalculatePositions() {
  category_numbering::requireRenumberable(valueToInt.size());
  intToValue.clear();
  const double step = category_numbering::renumberStep(valueToInt.size());
  uint64_t index = 0;
  for (auto& [key, number] : valueToInt) {
    number = category_numbering::renumbered(index++, step);
    intToValue.emplace_hint(intToValue.end(), number, key);
  }
}

void StringColumnMap::getAllInts(std::vector<unsigned short>& out) {
  out.clear();
  out.reserve(intToValue.size());
  for (const auto& entry : intToValue) out.push_back(entry.first);
}

uint64_t StringColumnMap::getSize() { return valueToInt.size(); }

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
