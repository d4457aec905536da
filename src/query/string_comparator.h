#pragma once

#include <cstdint>
#include <cstring>

#include "query/field_comparator_base.h"

// Compares NUL-terminated texts as strcmp does (bytes unsigned).
class StringComparator : public FieldComparatorBase {
 public:
  StringComparator(unsigned short columnNumber, bool isDescending)
      : FieldComparatorBase(columnNumber, isDescending) {}

  int compare(const void* a, const void* b) const override {
    return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
  }

  bool orderKeyIsExact() const override { return false; }
  // The first eight bytes, big-endian, zero after the text's end: texts
  // differing there order as strcmp orders them.
  uint64_t orderKey(const void* value) const override {
    const auto* text = static_cast<const unsigned char*>(value);
    uint64_t key = 0;
    for (int i = 0; i < 8; ++i) {
      const unsigned char c = *text;
      key = key << 8 | c;
      text += c != 0 ? 1 : 0;
    }
    return key;
  }
};
