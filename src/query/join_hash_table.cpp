#include "query/join_hash_table.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "storage/text_bytes.h"

namespace {

// Mixes a value's word so that its top bits, which pick the slot, depend on
// every bit.
uint64_t mix(uint64_t word) {
  word ^= word >> 29;
  word *= 0xbf58476d1ce4e5b9ULL;
  return word ^ (word >> 32);
}

}  // namespace

JoinHashTable::JoinHashTable(DATA_TYPE type, const std::vector<const void*>& values)
    : type_(type), width_(type == STRING ? 0 : getTypeWidth(type)) {
  size_t slots = 16;
  while (slots < 2 * values.size()) slots *= 2;
  slots_.resize(slots);
  std::vector<uint32_t> groupOf(values.size(), UINT32_MAX);
  std::vector<uint32_t> counts;
  for (size_t i = 0; i < values.size(); ++i) {
    uint64_t word = 0;
    uint32_t length = 0;
    if (!wordOf(values[i], word, length)) continue;
    const char* text = type_ == STRING ? static_cast<const char*>(values[i]) : nullptr;
    Slot& slot = slots_[slotFor(word, text, length)];
    if (slot.group == UINT32_MAX) {
      slot = Slot{word, text, length, static_cast<uint32_t>(counts.size())};
      counts.push_back(0);
    }
    groupOf[i] = slot.group;
    ++counts[slot.group];
  }
  firsts_.resize(counts.size() + 1);
  for (size_t g = 0; g < counts.size(); ++g) firsts_[g + 1] = firsts_[g] + counts[g];
  positions_.resize(firsts_.back());
  std::vector<uint32_t> next(firsts_.begin(), firsts_.end() - 1);
  for (size_t i = 0; i < values.size(); ++i) {
    if (groupOf[i] != UINT32_MAX) positions_[next[groupOf[i]]++] = static_cast<uint32_t>(i);
  }
}

bool JoinHashTable::wordOf(const void* value, uint64_t& word, uint32_t& length) const {
  if (type_ == STRING) {
    const char* text = static_cast<const char*>(value);
    length = static_cast<uint32_t>(std::strlen(text));
    word = text_bytes::hash(text, length);
    return true;
  }
  if (type_ == DOUBLE || type_ == FLOAT) {
    double v;
    if (type_ == DOUBLE) {
      std::memcpy(&v, value, sizeof v);
    } else {
      float f;
      std::memcpy(&f, value, sizeof f);
      v = f;
    }
    if (std::isnan(v)) return false;
    word = mix(std::bit_cast<uint64_t>(v == 0 ? 0.0 : v));
    return true;
  }
  uint64_t bits = 0;
  std::memcpy(&bits, value, width_);
  word = mix(bits);
  return true;
}

size_t JoinHashTable::slotFor(uint64_t word, const char* text, uint32_t length) const {
  const size_t mask = slots_.size() - 1;
  for (size_t at = text_bytes::slotOf(word, slots_.size());; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.group == UINT32_MAX) return at;
    if (slot.word != word) continue;
    if (text == nullptr || (slot.length == length && text_bytes::same(slot.text, text, length))) return at;
  }
}

std::pair<const uint32_t*, const uint32_t*> JoinHashTable::find(const void* key) const {
  uint64_t word = 0;
  uint32_t length = 0;
  if (!wordOf(key, word, length)) return {nullptr, nullptr};
  const char* text = type_ == STRING ? static_cast<const char*>(key) : nullptr;
  const Slot& slot = slots_[slotFor(word, text, length)];
  if (slot.group == UINT32_MAX) return {nullptr, nullptr};
  const uint32_t* base = positions_.data();
  return {base + firsts_[slot.group], base + firsts_[slot.group + 1]};
}
