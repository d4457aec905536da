// GroupKeys: grouping values to group numbers through open addressing, a
// fixed-width value keyed as itself, other keys by their bytes.

#include "query/group_keys.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "errors/database_exception.h"

namespace {

constexpr size_t kFirstSlots = 64;
// Slots are kept at most an eighth full while there are no more than
// this many of them (1 MiB, a core's second-level cache), half full past
// it: a key then nearly always sits in the first slot it is looked for in,
// and the probe loop's branches go the way they went for the row before.
constexpr size_t kSparseSlots = size_t{1} << 16;

uint64_t mix(uint64_t x) {
  x ^= x >> 31;
  x *= 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 32);
}

// The first eight bytes of `length` bytes at `bytes`, zeros after a
// shorter key.
uint64_t firstWord(const char* bytes, size_t length) {
  uint64_t word = 0;
  std::memcpy(&word, bytes, std::min<size_t>(length, sizeof word));
  return word;
}

// A hash already mixed, spread over 64 bits for slotOf.
uint64_t spread(uint64_t hash) { return hash * 0x9E3779B97F4A7C15ull; }

// The 32-bit hash of a key of `length` bytes, fewer than eight, whose
// firstWord() is `first`.
inline uint64_t hashShort(size_t length, uint64_t first) {
  return mix(length * 0xD6E8FEB86659FD93ull ^ first ^ 0x94D049BB133111EBull) & 0xFFFFFFFFull;
}

// A 32-bit hash of `length` bytes at `bytes`, taken eight at a time;
// `first` is their firstWord(). Keys are told apart by these 32 bits
// before their bytes are compared, so that the comparison of bytes is
// reached often enough to be exercised.
inline uint64_t hashBytes(const char* bytes, size_t length, uint64_t first) {
  if (length < 8) return hashShort(length, first);
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

// The stored value of type T at `value` widened to 64 bits, the zeros and
// the NaNs of a floating-point type each in one form.
template <typename T>
uint64_t widened(const void* value) {
  T x;
  std::memcpy(&x, value, sizeof x);
  if constexpr (std::is_floating_point_v<T>) {
    if (x == 0) x = 0;
    if (std::isnan(x)) x = std::numeric_limits<T>::quiet_NaN();
  }
  uint64_t key = 0;
  std::memcpy(&key, &x, sizeof x);
  return key;
}

uint64_t fixedKey(const void* value, DATA_TYPE type) {
  switch (type) {
    case DOUBLE: return widened<double>(value);
    case FLOAT: return widened<float>(value);
    case LONG: return widened<int64_t>(value);
    case INT: return widened<int32_t>(value);
    case SHORT: return widened<int16_t>(value);
    case DATE: return widened<uint16_t>(value);
    default: return widened<uint8_t>(value);
  }
}

// The integer of type T whose bits `key` holds, as widened() left them.
template <typename T>
int64_t valueOf(uint64_t key) {
  T x;
  std::memcpy(&x, &key, sizeof x);
  return static_cast<int64_t>(x);
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
  const uint64_t canonical = fixedKey(value, type);
  key.append(reinterpret_cast<const char*>(&canonical), getTypeWidth(type));
}

}  // namespace

GroupKeys::GroupKeys(std::vector<DATA_TYPE> types)
    : types_(std::move(types)),
      fixed_(types_.size() == 1 && types_[0] != STRING),
      slots_(kFirstSlots),
      runKeys_(types_.size() == 1 && types_[0] == STRING ? ResultSet::kMaxRunRows : 0) {
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
  switch (types_[0]) {
    case DOUBLE: return findFixed<double>(run, count, groups, opened);
    case FLOAT: return findFixed<float>(run, count, groups, opened);
    case LONG: return findFixed<int64_t>(run, count, groups, opened);
    case INT: return findFixed<int32_t>(run, count, groups, opened);
    case SHORT: return findFixed<int16_t>(run, count, groups, opened);
    case DATE: return findFixed<uint16_t>(run, count, groups, opened);
    default: return findFixed<uint8_t>(run, count, groups, opened);
  }
}

template <typename T>
void GroupKeys::findFixed(const ValueRun& run, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened) {
  // The keys first, each slot asked for as it is known, so that the
  // misses of a large table overlap.
  uint64_t keys[ResultSet::kMaxRunRows];
  bool nulls[ResultSet::kMaxRunRows];
  run.forEachValue(count, [&](size_t i, const void* value) {
    nulls[i] = value == nullptr;
    keys[i] = nulls[i] ? 0 : widened<T>(value);
    if (direct_.empty()) __builtin_prefetch(&slots_[slotOf(mix(keys[i]))]);
  });
  if constexpr (std::is_integral_v<T>) {
    if (!direct_.empty() || placeDirect<T>(keys, nulls, count)) return findDirect<T>(keys, nulls, count, groups, opened);
  }
  for (uint32_t i = 0; i < count; ++i) groups[i] = nulls[i] ? nullGroup(i, opened) : fixedGroup(keys[i], i, opened);
}

template <typename T>
bool GroupKeys::placeDirect(const uint64_t* keys, const bool* nulls, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (nulls[i]) continue;
    directLow_ = static_cast<uint64_t>(valueOf<T>(keys[i])) - kDirectKeys / 2;
    direct_.assign(kDirectKeys, kEmpty);
    return true;
  }
  return false;
}

template <typename T>
void GroupKeys::findDirect(const uint64_t* keys, const bool* nulls, uint32_t count, uint32_t* groups,
                           std::vector<uint32_t>& opened) {
  for (uint32_t i = 0; i < count; ++i) {
    if (nulls[i]) {
      groups[i] = nullGroup(i, opened);
      continue;
    }
    const uint64_t at = static_cast<uint64_t>(valueOf<T>(keys[i])) - directLow_;
    if (at >= kDirectKeys) {
      groups[i] = fixedGroup(keys[i], i, opened);
      continue;
    }
    uint32_t& group = direct_[at];
    if (group == kEmpty) group = fixedGroup(keys[i], i, opened);
    groups[i] = group;
  }
}

void GroupKeys::findBytes(const ValueRun* runs, uint32_t count, uint32_t* groups, std::vector<uint32_t>& opened) {
  if (types_.size() > 1) {
    for (uint32_t i = 0; i < count; ++i) {
      composeKey(runs, i);
      const uint64_t word = firstWord(key_.data(), key_.size());
      const Key key{key_.data(), key_.size(), word, hashBytes(key_.data(), key_.size(), word), false};
      groups[i] = bytesGroup(key, i, opened);
    }
    return;
  }
  Key* const keys = runKeys_.data();
  const Slot* const slots = slots_.data();
  const int shift = shift_;
  // Inlined into each of forEachValue's loops: a call per row cost about
  // as much as the hashing.
  runs[0].forEachValue(count, [&](size_t i, const void* value) __attribute__((always_inline)) {
    Key& key = keys[i];
    key.bytes = static_cast<const char*>(value);
    if (key.bytes == nullptr) return;
    // The first word byte by byte: most texts end within it.
    size_t length = 0;
    uint64_t word = 0;
    for (; length < sizeof word && key.bytes[length] != '\0'; ++length) {
      word |= uint64_t{static_cast<unsigned char>(key.bytes[length])} << (8 * length);
    }
    key.word = word;
    // A text holds no NUL: one shorter than a word is told by its first
    // word alone.
    key.inWord = length < sizeof word;
    if (key.inWord) {
      key.length = length;
      key.hash = hashShort(length, word);
    } else {
      key.length = length + std::strlen(key.bytes + length);
      key.hash = hashBytes(key.bytes, key.length, word);
    }
    __builtin_prefetch(&slots[spread(key.hash) >> shift]);
  });
  for (uint32_t i = 0; i < count; ++i) {
    groups[i] = keys[i].bytes == nullptr ? nullGroup(i, opened) : bytesGroup(keys[i], i, opened);
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
    if (slot.word == key) return slot.group;
  }
  growIfFull();
  const uint32_t group = open(row, opened);
  insert({key, 0, group});
  return group;
}

// Inlined into the loops over a run's rows: a call per row cost a
// twentieth of the grouping of one short text.
[[gnu::always_inline]] inline uint32_t GroupKeys::bytesGroup(const Key& key, uint32_t row,
                                                             std::vector<uint32_t>& opened) {
  const size_t mask = slots_.size() - 1;
  const uint64_t word = key.word;
  const auto hash = static_cast<uint32_t>(key.hash);
  for (size_t at = slotOf(spread(hash));; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.group == kEmpty) return openBytes(key, row, opened);
    if (slot.hash != hash || slot.word != word) continue;
    if (key.inWord || sameBytes(slot.group, key)) return slot.group;
  }
}

uint32_t GroupKeys::openBytes(const Key& key, uint32_t row, std::vector<uint32_t>& opened) {
  growIfFull();
  const uint32_t group = open(row, opened);
  // Every number has its key, a NULL's the empty one, so that the key of
  // number g ends at ends_[g].
  while (ends_.size() < group) ends_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), key.bytes, key.bytes + key.length);
  ends_.push_back(bytes_.size());
  insert({key.word, static_cast<uint32_t>(key.hash), group});
  return group;
}

bool GroupKeys::sameBytes(uint32_t group, const Key& key) const {
  const size_t begin = group == 0 ? 0 : ends_[group - 1];
  return ends_[group] - begin == key.length && std::memcmp(bytes_.data() + begin, key.bytes, key.length) == 0;
}

uint32_t GroupKeys::open(uint32_t row, std::vector<uint32_t>& opened) {
  if (count_ == kEmpty - 1) throw DatabaseException("An answer of more than 4294967294 groups");
  opened.push_back(row);
  return count_++;
}

void GroupKeys::growIfFull() {
  const size_t fill = slots_.size() < kSparseSlots ? 8 : 2;
  if ((static_cast<size_t>(count_) + 1) * fill <= slots_.size()) return;
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  --shift_;
  for (const Slot& slot : old) {
    if (slot.group != kEmpty) insert(slot);
  }
}

void GroupKeys::insert(const Slot& slot) {
  const size_t mask = slots_.size() - 1;
  size_t at = slotOf(fixed_ ? mix(slot.word) : spread(slot.hash));
  while (slots_[at].group != kEmpty) at = (at + 1) & mask;
  slots_[at] = slot;
}
