#include "query/result_set.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "errors/database_exception.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/field_comparator_base.h"
#include "storage/buffer.h"

void ResultSet::processRequest(std::vector<Condition*>& conditions) {
  const std::unique_ptr<CombinedBooleanExpression> root =
      CombinedBooleanExpression::build(conditions);
  filterRows(conditions, *root);
}

void ResultSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  while (nextRow()) {
    for (Condition* condition : conditions) {
      condition->evaluate(getPointerPath(condition->column));
    }
    if (root.evaluate()) {
      addCurrentRow();
    }
  }
}

namespace {

// Orders stored rows by their extracted sort keys, the first comparator
// deciding first; rows equal under every key keep their stored order, so
// the result is deterministic.
class RowComparator {
 public:
  RowComparator(const std::vector<FieldComparatorBase*>& comparators,
                const std::vector<const void*>& keys)
      : comparators_(comparators), keys_(keys) {}

  bool operator()(uint32_t a, uint32_t b) const {
    const size_t width = comparators_.size();
    const void* const* keysA = keys_.data() + static_cast<size_t>(a) * width;
    const void* const* keysB = keys_.data() + static_cast<size_t>(b) * width;
    for (size_t i = 0; i < width; ++i) {
      const int c = comparators_[i]->compare(keysA[i], keysB[i]);
      if (c != 0) {
        return comparators_[i]->descending ? c > 0 : c < 0;
      }
    }
    return a < b;
  }

 private:
  const std::vector<FieldComparatorBase*>& comparators_;
  const std::vector<const void*>& keys_;
};

}  // namespace

void ResultSet::sort(std::vector<FieldComparatorBase*>& comparators) {
  if (comparators.empty()) {
    return;
  }
  initPermutation();
  // Each row is positioned once to read its keys; the pointers stay valid
  // while the source is unchanged, so comparisons need no positioning.
  const size_t width = comparators.size();
  std::vector<const void*> keys(static_cast<size_t>(rowCount) * width);
  for (uint32_t row = 0; row < rowCount; ++row) {
    setRowDerived(row);
    for (size_t i = 0; i < width; ++i) {
      keys[static_cast<size_t>(row) * width + i] = getPointerPath(comparators[i]->column);
    }
  }
  const bool byOrderKeys = std::all_of(comparators.begin(), comparators.end(),
                                       [](const FieldComparatorBase* c) { return c->hasOrderKey(); });
  if (byOrderKeys) {
    sortByOrderKeys(comparators, keys);
    return;
  }
  std::sort(permutation.begin(), permutation.end(), RowComparator(comparators, keys));
}

void ResultSet::sortByOrderKeys(const std::vector<FieldComparatorBase*>& comparators,
                                const std::vector<const void*>& values) {
  // Integer keys, inverted for descending comparators, then the stored row
  // as the last key: the same order as RowComparator, compared without a
  // virtual call.
  const size_t width = comparators.size();
  std::vector<uint64_t> keys(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const FieldComparatorBase& comparator = *comparators[i % width];
    const uint64_t key = comparator.orderKey(values[i]);
    keys[i] = comparator.descending ? ~key : key;
  }
  if (width == 1) {
    std::vector<std::pair<uint64_t, uint32_t>> keyed(rowCount);
    for (uint32_t row = 0; row < rowCount; ++row) keyed[row] = {keys[row], row};
    std::sort(keyed.begin(), keyed.end());
    for (uint32_t position = 0; position < rowCount; ++position) permutation[position] = keyed[position].second;
    return;
  }
  std::sort(permutation.begin(), permutation.end(), [&keys, width](uint32_t a, uint32_t b) {
    const uint64_t* keysA = keys.data() + static_cast<size_t>(a) * width;
    const uint64_t* keysB = keys.data() + static_cast<size_t>(b) * width;
    for (size_t i = 0; i < width; ++i) {
      if (keysA[i] != keysB[i]) return keysA[i] < keysB[i];
    }
    return a < b;
  });
}

void ResultSet::initPermutation() {
  permutation.resize(rowCount);
  std::iota(permutation.begin(), permutation.end(), 0U);
  hasPermutation_ = true;
}

void ResultSet::freePermutation() {
  permutation.clear();
  permutation.shrink_to_fit();
  hasPermutation_ = false;
}

std::string ResultSet::getHeader(const std::string& separator) {
  std::string joined;
  const unsigned short count = getNumberOfSelectCols();
  size_t start = 0;
  for (unsigned short k = 0; k < count && start < header.size(); ++k) {
    size_t end = header.find('\0', start);
    if (end == std::string::npos) {
      end = header.size();
    }
    if (k > 0) {
      joined += separator;
    }
    joined.append(header, start, end - start);
    start = end + 1;
  }
  return joined;
}

namespace {

// Appends one CSV field: quoted when it holds a comma.
void appendField(std::string& line, const std::string& value) {
  if (value.find(',') == std::string::npos) {
    line += value;
  } else {
    line += '"';
    line += value;
    line += '"';
  }
}

}  // namespace

void ResultSet::populateCSV(Buffer& out) {
  out.reset();
  const std::string head = getHeader(",") + "\n";
  out.write(head.data(), head.size());
  const unsigned short columns = getNumberOfSelectCols();
  std::string line;
  for (uint32_t position = 0; position < rowCount; ++position) {
    currentRow = position;
    setRowDerived(storedRow(position));
    line.clear();
    if (position > 0) {
      line += '\n';
    }
    for (unsigned short k = 0; k < columns; ++k) {
      if (k > 0) {
        line += ',';
      }
      appendField(line, getSelectString(k));
    }
    out.write(line.data(), line.size());
  }
  out.write("", 1);
}

void ResultSet::selectPointers(unsigned short k, uint32_t first, uint32_t end, const void** out) {
  for (uint32_t position = first; position < end; ++position) {
    setRowDerived(storedRow(position));
    *out++ = getSelectPointer(k);
  }
}

void ResultSet::selectRows(uint32_t first, uint32_t end, const void** out) {
  const unsigned short columns = getNumberOfSelectCols();
  for (unsigned short k = 0; k < columns; ++k) selectPointers(k, first, end, out + size_t{k} * (end - first));
}

void ResultSet::watchTable(const std::string& tableName,
                           std::shared_ptr<const uint64_t> changes) {
  const uint64_t seen = *changes;
  watches_.push_back(TableWatch{tableName, std::move(changes), seen});
}

void ResultSet::checkValid() const {
  for (const TableWatch& watch : watches_) {
    if (*watch.changes != watch.seen) {
      throw DatabaseException("Query result is no longer valid: table %s has changed",
                              watch.tableName.c_str());
    }
  }
}
