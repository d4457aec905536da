// GroupedSet: a result over values of its own.

#include "query/grouped_set.h"

#include <utility>

GroupedSet::GroupedSet(std::vector<ValueColumn> columns, std::vector<bool> nullable, std::vector<size_t> selected)
    : columns_(std::move(columns)), nullable_(std::move(nullable)), selected_(std::move(selected)) {
  rowCount = columns_.empty() ? 0 : static_cast<uint32_t>(columns_.front().size());
}

std::string GroupedSet::getString(unsigned short col) {
  const void* const value = columns_[col].get(current_);
  return value == nullptr ? std::string() : getStringFromPtr(const_cast<void*>(value), columns_[col].type());
}
