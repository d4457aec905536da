// JoinHashTable: open addressing on each value's 64-bit word (its bits, or a
// text's hash); a value held once keeps its position in its slot.

#include "query/join_hash_table.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "query/row_bits.h"
#include "storage/text_bytes.h"
#include "storage/unaligned.h"

namespace {

// Mixes a value's word so that its top bits, which pick the slot, depend on
// every bit.
uint64_t mix(uint64_t word) {
  word ^= word >> 29;
  word *= 0xbf58476d1ce4e5b9ULL;
  return word ^ (word >> 32);
}

// The bytes of a fixed-width value as an integer. Every probe reads one,
// so each width gets its own load rather than a copy of run-time length.
uint64_t bitsOf(const void* value, unsigned short width) {
  switch (width) {
    case 1:
      return unaligned::load<uint8_t>(value);
    case 2:
      return unaligned::load<uint16_t>(value);
    case 4:
      return unaligned::load<uint32_t>(value);
    default:
      return unaligned::load<uint64_t>(value);
  }
}

// Calls `run` with a value of the C++ type of integer type `type`; false
// for a type that is not an integer one.
template <typename Run>
bool withIntegerType(DATA_TYPE type, Run run) {
  switch (type) {
    case LONG:
      run(int64_t{});
      return true;
    case INT:
      run(int32_t{});
      return true;
    case SHORT:
      run(int16_t{});
      return true;
    case DATE:
      run(uint16_t{});
      return true;
    case BOOL:
      run(uint8_t{});
      return true;
    default:
      return false;
  }
}

// The integer of type T at `value`, sign-extended to a word: the words of
// two values differ by the values' difference modulo 2^64.
template <typename T>
uint64_t integerWord(const void* value) {
  return static_cast<uint64_t>(static_cast<int64_t>(unaligned::load<T>(value)));
}

}  // namespace

JoinHashTable::JoinHashTable(DATA_TYPE type, const std::vector<const void*>& values, bool sieved)
    : type_(type), width_(type == STRING ? 0 : getTypeWidth(type)) {
  if (sieved) markPresent(values);
  if (spansShortRange(values)) {
    fillRuns(groupDirectly(values));
    return;
  }
  size_t slots = 16;
  while (slots < 2 * values.size()) slots *= 2;
  slots_.resize(slots);
  if (type_ == STRING) texts_.resize(slots);
  if (sieved && present_.empty()) {
    const uint64_t bits = std::min<uint64_t>(slots * kFilterBitsPerSlot, kMaxBitmapBits);
    filter_.assign(row_bits::wordsFor(bits), 0);
    filterShift_ = 64 - static_cast<unsigned>(std::countr_zero(bits));
  }
  fillRuns(groupInSlots(values));
}

bool JoinHashTable::spansShortRange(const std::vector<const void*>& values) {
  bool any = false;
  int64_t low = 0;
  int64_t high = 0;
  const bool integer = withIntegerType(type_, [&](auto zero) {
    using T = decltype(zero);
    for (const void* value : values) {
      if (value == nullptr) continue;
      const auto v = static_cast<int64_t>(integerWord<T>(value));
      low = any ? std::min(low, v) : v;
      high = any ? std::max(high, v) : v;
      any = true;
    }
  });
  if (!integer || !any) return false;
  const uint64_t last = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
  if (last / kDirectSpanPerValue >= values.size()) return false;
  directLow_ = static_cast<uint64_t>(low);
  direct_.resize(last + 1);
  return true;
}

std::vector<uint32_t> JoinHashTable::groupDirectly(const std::vector<const void*>& values) {
  std::vector<uint32_t> groupOf(values.size(), UINT32_MAX);
  withIntegerType(type_, [&](auto zero) {
    using T = decltype(zero);
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i] == nullptr) continue;
      const uint64_t at = integerWord<T>(values[i]) - directLow_;
      Group& group = direct_[at];
      if (group.count == 0) group.first = static_cast<uint32_t>(i);
      ++group.count;
      groupOf[i] = static_cast<uint32_t>(at);
    }
  });
  return groupOf;
}

std::vector<uint32_t> JoinHashTable::groupInSlots(const std::vector<const void*>& values) {
  std::vector<uint32_t> slotOf(values.size(), UINT32_MAX);
  for (size_t i = 0; i < values.size(); ++i) {
    uint64_t word = 0;
    if (!wordOf(values[i], word)) continue;
    if (!filter_.empty()) filter_[(word >> filterShift_) / 64] |= uint64_t{1} << ((word >> filterShift_) % 64);
    const size_t at = slotFor(word, values[i]);
    Slot& slot = slots_[at];
    if (slot.group.count == 0) {
      slot.word = word;
      slot.group.first = static_cast<uint32_t>(i);
      if (type_ == STRING) texts_[at] = static_cast<const char*>(values[i]);
    }
    ++slot.group.count;
    slotOf[i] = static_cast<uint32_t>(at);
  }
  return slotOf;
}

void JoinHashTable::fillRuns(const std::vector<uint32_t>& groupOf) {
  // A value held once keeps its position in its group; the others get a
  // run of positions_. Each run's start moves on as the run is filled,
  // then back.
  const size_t groups = direct_.empty() ? slots_.size() : direct_.size();
  uint32_t used = 0;
  for (size_t at = 0; at < groups; ++at) {
    Group& group = groupAt(at);
    if (group.count < 2) continue;
    group.first = used;
    used += group.count;
  }
  if (used == 0) return;
  positions_.resize(used);
  for (size_t i = 0; i < groupOf.size(); ++i) {
    if (groupOf[i] == UINT32_MAX) continue;
    Group& group = groupAt(groupOf[i]);
    if (group.count > 1) positions_[group.first++] = static_cast<uint32_t>(i);
  }
  for (size_t at = 0; at < groups; ++at) {
    Group& group = groupAt(at);
    if (group.count > 1) group.first -= group.count;
  }
}

void JoinHashTable::markPresent(const std::vector<const void*>& values) {
  // Values with NULLs among them (null pointers) are left to the hash slots.
  if (values.empty() || std::find(values.begin(), values.end(), nullptr) != values.end()) return;
  withIntegerType(type_, [&](auto zero) {
    using T = decltype(zero);
    int64_t low = static_cast<int64_t>(integerWord<T>(values[0]));
    int64_t high = low;
    for (const void* value : values) {
      const auto v = static_cast<int64_t>(integerWord<T>(value));
      low = std::min(low, v);
      high = std::max(high, v);
    }
    const uint64_t last = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    if (last >= kMaxBitmapBits) return;
    low_ = static_cast<uint64_t>(low);
    span_ = last + 1;
    present_.assign(row_bits::wordsFor(span_), 0);
    for (const void* value : values) {
      const uint64_t at = integerWord<T>(value) - low_;
      present_[at / 64] |= uint64_t{1} << (at % 64);
    }
  });
}

bool JoinHashTable::wordOf(const void* value, uint64_t& word) const {
  if (value == nullptr) return false;
  if (type_ == STRING) {
    const char* text = static_cast<const char*>(value);
    word = text_bytes::hash(text, text_bytes::terminatedLength(text));
    return true;
  }
  if (type_ == DOUBLE || type_ == FLOAT) {
    const double v = type_ == DOUBLE ? unaligned::load<double>(value) : unaligned::load<float>(value);
    if (std::isnan(v)) return false;
    word = mix(std::bit_cast<uint64_t>(v == 0 ? 0.0 : v));
    return true;
  }
  word = mix(bitsOf(value, width_));
  return true;
}

size_t JoinHashTable::slotFor(uint64_t word, const void* value) const {
  return slotFor(word, value, text_bytes::slotOf(word, slots_.size()));
}

size_t JoinHashTable::slotFor(uint64_t word, const void* value, size_t at) const {
  const size_t mask = slots_.size() - 1;
  for (;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.group.count == 0) return at;
    if (slot.word != word) continue;
    if (type_ != STRING || std::strcmp(texts_[at], static_cast<const char*>(value)) == 0) return at;
  }
}

JoinHashTable::Range JoinHashTable::positionsOf(const Group& group) const {
  if (group.count == 0) return {nullptr, nullptr};
  if (group.count == 1) return {&group.first, &group.first + 1};
  const uint32_t* base = positions_.data() + group.first;
  return {base, base + group.count};
}

size_t JoinHashTable::directIndex(const void* key) const {
  uint64_t word = 0;
  withIntegerType(type_, [&](auto zero) { word = integerWord<decltype(zero)>(key); });
  return std::min<uint64_t>(word - directLow_, direct_.size());
}

bool JoinHashTable::sieveRejects(const void* key, uint64_t word) const {
  if (!filter_.empty()) return !mayHold(word);
  if (present_.empty()) return false;
  uint64_t integer = 0;
  withIntegerType(type_, [&](auto zero) { integer = integerWord<decltype(zero)>(key); });
  return !isPresent(integer);
}

JoinHashTable::Range JoinHashTable::find(const void* key) const {
  if (!direct_.empty()) {
    const size_t at = key == nullptr ? direct_.size() : directIndex(key);
    return at < direct_.size() ? positionsOf(direct_[at]) : Range{nullptr, nullptr};
  }
  uint64_t word = 0;
  if (!wordOf(key, word) || sieveRejects(key, word)) return {nullptr, nullptr};
  return positionsOf(slots_[slotFor(word, key)].group);
}

template <typename T>
void JoinHashTable::findEachDirect(const void* const* keys, size_t count, Range* found) const {
  const size_t none = direct_.size();
  size_t at[kFindBatch];
  for (size_t i = 0; i < count; ++i) {
    at[i] = none;
    if (keys[i] == nullptr) continue;
    const uint64_t word = integerWord<T>(keys[i]);
    if (!present_.empty() && !isPresent(word)) continue;
    at[i] = std::min<uint64_t>(word - directLow_, none);
    if (at[i] != none) __builtin_prefetch(&direct_[at[i]]);
  }
  for (size_t i = 0; i < count; ++i) found[i] = at[i] == none ? Range{nullptr, nullptr} : positionsOf(direct_[at[i]]);
}

void JoinHashTable::findEach(const void* const* keys, size_t count, Range* found) const {
  if (!direct_.empty()) {
    withIntegerType(type_, [&](auto zero) { findEachDirect<decltype(zero)>(keys, count, found); });
    return;
  }
  constexpr size_t kUnmatchable = SIZE_MAX;
  uint64_t words[kFindBatch];
  size_t first[kFindBatch];
  for (size_t i = 0; i < count; ++i) {
    const bool matchable = wordOf(keys[i], words[i]) && !sieveRejects(keys[i], words[i]);
    first[i] = matchable ? text_bytes::slotOf(words[i], slots_.size()) : kUnmatchable;
    if (first[i] == kUnmatchable) continue;
    __builtin_prefetch(&slots_[first[i]]);
    if (type_ == STRING) __builtin_prefetch(&texts_[first[i]]);
  }
  // A text is compared with the one its slot holds: that text is asked
  // for too once the slot's pointer to it has arrived.
  if (type_ == STRING) {
    for (size_t i = 0; i < count; ++i) {
      if (first[i] != kUnmatchable && texts_[first[i]] != nullptr) __builtin_prefetch(texts_[first[i]]);
    }
  }
  for (size_t i = 0; i < count; ++i) {
    found[i] = first[i] == kUnmatchable ? Range{nullptr, nullptr}
                                        : positionsOf(slots_[slotFor(words[i], keys[i], first[i])].group);
  }
}

bool JoinHashTable::holds(const void* key) const {
  uint64_t word = 0;
  if (!wordOf(key, word) || sieveRejects(key, word)) return false;
  if (!present_.empty()) return true;
  if (!direct_.empty()) return find(key).first != nullptr;
  return slots_[slotFor(word, key)].group.count != 0;
}

template <typename T>
void JoinHashTable::holdsEachPresent(const char* values, size_t count, uint64_t* bits) const {
  row_bits::fillDense<T>(values, count, bits,
                         [this](T value) { return isPresent(static_cast<uint64_t>(static_cast<int64_t>(value))); });
}

bool JoinHashTable::holdsEach(const char* values, size_t count, uint64_t* bits) const {
  if (present_.empty()) return false;
  withIntegerType(type_, [&](auto zero) { holdsEachPresent<decltype(zero)>(values, count, bits); });
  return true;
}

void JoinHashTable::holdsEachText(const char* const* texts, size_t count, uint64_t* bits) const {
  row_bits::fillEach(count, bits, [&](size_t i) { return holds(texts[i]); });
}
