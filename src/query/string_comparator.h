#pragma once

#include <cstring>

#include "query/field_comparator_base.h"

// Compares NUL-terminated texts as strcmp does.
class StringComparator : public FieldComparatorBase {
 public:
  StringComparator(unsigned short columnNumber, bool isDescending)
      : FieldComparatorBase(columnNumber, isDescending) {}

  int compare(const void* a, const void* b) const override {
    return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
  }
};
