// GroupKeys: grouping values to group numbers through open addressing, a
// fixed-width value keyed as itself, other keys by their bytes.

#include "query/group_keys.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "errors/database_exception.h"

namespace {

constexpr size_t kFirstSlots = 64;

uint64_t mix(uint64_t x) {
  x ^= x >> 31;
  x *= 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 32);
}

// A 32-bit hash of `length` bytes at `bytes`, taken eight at a time. Keys
// are told apart by these 32 bits before their bytes are compared, so that
// the comparison of bytes is reached often enough to be exercised.
uint64_t hashBytes(const char* bytes, size_t length) {
  uint64_t hash = length * 0xD6E8FEB86659FD93ull;
  for (; length >= 8; bytes += 8, length -= 8) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    hash = mix(hash ^ word);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, bytes, length);
  return mix(hash ^ tail ^ 0x94D049BB133111EBull) & 0xFFFFFFFFull;
}

// The stored value of `type` at `value` widened to 64 bits, the zeros and
// the NaNs of a floating-point type each in one form.
uint64_t fixedKey(const void* value, DATA_TYPE type) {
  uint64_t key = 0;
  if (type == DOUBLE) {
    double x;
    std::memcpy(&x, value, sizeof x);
    if (x == 0) x = 0;
    if (std::isnan(x)) x = NAN;
    std::memcpy(&key, &x, sizeof x);
  } else if (type == FLOAT) {
    float x;
    std::memcpy(&x, value, sizeof x);
    if (x == 0) x = 0;
    if (std::isnan(x)) x = NAN;
    std::memcpy(&key, &x, sizeof x);
  } else {
    std::memcpy(&key, value, getTypeWidth(type));
  }
  return key;
}

// Appends to `key` the bytes of the value of `type` at `value` (nullptr for
// a NULL) that decide its group: a NULL and a value never share bytes, and
// a text ends at its NUL.
void appendKey(std::string& key, const void* value, DATA_TYPE type) {
  if (value == nullptr) {
    key += '\0';
    return;
  }
  key += '\1';
  if (type == STRING) {
    const char* const text = static_cast<const char*>(value);
    key.append(text, std::strlen(text) + 1);
    return;
  }
  const uint64_t widened = fixedKey(value, type);
  key.append(reinterpret_cast<const char*>(&widened), getTypeWidth(type));
}

}  // namespace

GroupKeys::GroupKeys(std::vector<DATA_TYPE> types)
    : types_(std::move(types)), fixed_(types_.size() == 1 && types_[0] != STRING), slots_(kFirstSlots) {
  shift_ = 64 - __builtin_ctzll(kFirstSlots);
}

void GroupKeys::find(const ValueRun* runs, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened) {
  if (types_.empty()) {
    if (count_ == 0 && count != 0) open(0, opened);
    std::fill(groups, groups + count, 0u);
    return;
  }
  if (fixed_) {
    findFixed(runs[0], count, groups, opened);
  } else {
    findBytes(runs, count, groups, opened);
  }
}

void GroupKeys::findFixed(const ValueRun& run, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened) {
  const DATA_TYPE type = types_[0];
  run.forEachValue(count, [&](size_t i, const void* value) {
    const auto row = static_cast<uint32_t>(i);
    groups[i] = value == nullptr ? nullGroup(row, opened) : fixedGroup(fixedKey(value, type), row, opened);
  });
}

void GroupKeys::findBytes(const ValueRun* runs, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened) {
  if (types_.size() == 1) {
    runs[0].forEachValue(count, [&](size_t i, const void* value) {
      const auto row = static_cast<uint32_t>(i);
      if (value == nullptr) {
        groups[i] = nullGroup(row, opened);
        return;
      }
      const char* const text = static_cast<const char*>(value);
      const size_t length = std::strlen(text);
      groups[i] = bytesGroup(text, length, hashBytes(text, length), row, opened);
    });
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    composeKey(runs, i);
    groups[i] = bytesGroup(key_.data(), key_.size(), hashBytes(key_.data(), key_.size()), i, opened);
  }
}

void GroupKeys::composeKey(const ValueRun* runs, uint32_t row) {
  key_.clear();
  for (size_t s = 0; s < types_.size(); ++s) appendKey(key_, runs[s].value(row), types_[s]);
}

uint32_t GroupKeys::nullGroup(uint32_t row, std::vector<uint32_t>& opened) {
  if (nullGroup_ == kEmpty) nullGroup_ = open(row, opened);
  return nullGroup_;
}

uint32_t GroupKeys::fixedGroup(uint64_t key, uint32_t row, std::vector<uint32_t>& opened) {
  const size_t mask = slots_.size() - 1;
  for (size_t at = slotOf(mix(key));; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.group == kEmpty) break;
    if (slot.key == key) return slot.group;
  }
  growIfFull();
  const uint32_t group = open(row, opened);
  insert({key, group});
  return group;
}

uint32_t GroupKeys::bytesGroup(const char* bytes, size_t length, uint64_t hash, uint32_t row,
                               std::vector<uint32_t>& opened) {
  const size_t mask = slots_.size() - 1;
  for (size_t at = slotOf(mix(hash));; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.group == kEmpty) break;
    if (slot.key != hash) continue;
    const size_t begin = slot.group == 0 ? 0 : ends_[slot.group - 1];
    if (ends_[slot.group] - begin == length && std::memcmp(bytes_.data() + begin, bytes, length) == 0) {
      return slot.group;
    }
  }
  growIfFull();
  const uint32_t group = open(row, opened);
  // Every number has its key, a NULL's the empty one, so that the key of
  // number g ends at ends_[g].
  while (ends_.size() < group) ends_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), bytes, bytes + length);
  ends_.push_back(bytes_.size());
  insert({hash, group});
  return group;
}

uint32_t GroupKeys::open(uint32_t row, std::vector<uint32_t>& opened) {
  if (count_ == kEmpty - 1) throw DatabaseException("An answer of more than 4294967294 groups");
  opened.push_back(row);
  return count_++;
}

void GroupKeys::growIfFull() {
  if ((static_cast<size_t>(count_) + 1) * 2 <= slots_.size()) return;
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  --shift_;
  for (const Slot& slot : old) {
    if (slot.group != kEmpty) insert(slot);
  }
}

void GroupKeys::insert(const Slot& slot) {
  const size_t mask = slots_.size() - 1;
  size_t at = slotOf(mix(slot.key));
  while (slots_[at].group != kEmpty) at = (at + 1) & mask;
  slots_[at] = slot;
}
