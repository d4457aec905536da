// What every ResultSet shares: filtering, sorting (radix passes over order
// keys, comparators only for ties), header, CSV and the validity check.

#include "query/result_set.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <utility>

#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "query/combined_boolean_expression.h"
#include "query/condition.h"
#include "query/field_comparator_base.h"
#include "storage/csv_field.h"
#include "storage/buffer.h"

void ResultSet::processRequest(std::vector<Condition*>& conditions, CombinedBooleanExpression& clause) {
  filterRows(conditions, clause);
}

void ResultSet::filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) {
  for (uint32_t rows = 1; nextRow(); ++rows) {
    if (rows % kRowsPerInterruptCheck == 0) checkInterrupt();
    for (size_t k = 0; k < conditions.size(); ++k) {
      const Condition& condition = *conditions[k];
      root.set(k, condition.evaluateMaybeNull(getPointerPathOrNull(condition.column)));
    }
    if (root.evaluate()) {
      addCurrentRow();
    }
  }
}

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
    if (row % kRowsPerInterruptCheck == 0) checkInterrupt();
    setRowDerived(row);
    for (size_t i = 0; i < width; ++i) {
      keys[static_cast<size_t>(row) * width + i] = getPointerPathOrNull(comparators[i]->column);
    }
  }
  sortByOrderKeys(comparators, keys);
}

namespace {

// Digits of a radix pass: eleven bits, so that a 64-bit key takes six
// passes while each pass's counts stay in the first-level cache.
constexpr unsigned kDigitBits = 11;
constexpr unsigned kDigits = (64 + kDigitBits - 1) / kDigitBits;
constexpr size_t kDigitValues = size_t{1} << kDigitBits;

size_t digitOf(uint64_t key, unsigned digit) { return (key >> (kDigitBits * digit)) & (kDigitValues - 1); }

// Sorts (key, stored row) pairs by key, stably, one digit at a time from
// the lowest; a digit that is the same in every key costs no pass.
void radixSort(std::vector<std::pair<uint64_t, uint32_t>>& keyed) {
  const size_t count = keyed.size();
  std::vector<std::array<uint32_t, kDigitValues>> counts(kDigits);
  for (auto& digitCounts : counts) digitCounts.fill(0);
  for (const auto& [key, row] : keyed) {
    for (unsigned digit = 0; digit < kDigits; ++digit) ++counts[digit][digitOf(key, digit)];
  }
  std::vector<std::pair<uint64_t, uint32_t>> other(count);
  for (unsigned digit = 0; digit < kDigits; ++digit) {
    std::array<uint32_t, kDigitValues>& digitCounts = counts[digit];
    if (digitCounts[digitOf(keyed.front().first, digit)] == count) continue;
    uint32_t next = 0;
    for (uint32_t& slot : digitCounts) next += std::exchange(slot, next);
    for (const auto& entry : keyed) other[digitCounts[digitOf(entry.first, digit)]++] = entry;
    keyed.swap(other);
  }
}

}  // namespace

void ResultSet::sortByOrderKeys(const std::vector<FieldComparatorBase*>& comparators,
                                const std::vector<const void*>& values) {
  // Integer keys, inverted for descending comparators; a key that leaves
  // ties between different values (a text's first bytes) is followed by
  // the comparator. The stored row breaks the remaining ties: most decisions are
  // taken without a virtual call. A NULL has key 0 and orders by its
  // null pointer: after every value.
  const size_t width = comparators.size();
  std::vector<uint64_t> keys(values.size());
  std::vector<bool> keyHasNull(width);
  for (size_t i = 0; i < values.size(); ++i) {
    const FieldComparatorBase& comparator = *comparators[i % width];
    if (values[i] == nullptr) {
      keyHasNull[i % width] = true;
      continue;
    }
    const uint64_t key = comparator.orderKey(values[i]);
    keys[i] = comparator.descending ? ~key : key;
  }
  const auto isNull = [&](uint32_t row, size_t i) { return values[static_cast<size_t>(row) * width + i] == nullptr; };
  const auto before = [&](uint32_t a, uint32_t b) {
    const size_t atA = static_cast<size_t>(a) * width;
    const size_t atB = static_cast<size_t>(b) * width;
    for (size_t i = 0; i < width; ++i) {
      if (isNull(a, i) != isNull(b, i)) return isNull(b, i);
      if (keys[atA + i] != keys[atB + i]) return keys[atA + i] < keys[atB + i];
      const FieldComparatorBase& comparator = *comparators[i];
      if (comparator.orderKeyIsExact() || isNull(a, i)) continue;
      const int c = comparator.compare(values[atA + i], values[atB + i]);
      if (c != 0) return comparator.descending ? c > 0 : c < 0;
    }
    return a < b;
  };
  // Sorted stably by each key from the last to the first, rows equal under
  // every key stay in stored order; where a key leaves ties between
  // different values, the runs it ties are then sorted by the comparators.
  std::vector<std::pair<uint64_t, uint32_t>> keyed(rowCount);
  for (size_t i = width; i-- > 0;) {
    checkInterrupt();
    for (uint32_t position = 0; position < rowCount; ++position) {
      const uint32_t row = permutation[position];
      keyed[position] = {keys[static_cast<size_t>(row) * width + i], row};
    }
    if (rowCount > 1) radixSort(keyed);
    for (uint32_t position = 0; position < rowCount; ++position) permutation[position] = keyed[position].second;
    if (keyHasNull[i]) {
      std::stable_partition(permutation.begin(), permutation.end(), [&](uint32_t row) { return !isNull(row, i); });
    }
  }
  const auto inexact = std::find_if(comparators.begin(), comparators.end(),
                                    [](const FieldComparatorBase* c) { return !c->orderKeyIsExact(); });
  if (inexact == comparators.end()) return;
  // Rows agreeing on the keys up to the first inexact one are in one run.
  const auto decided = static_cast<size_t>(inexact - comparators.begin()) + 1;
  const auto sameKeys = [&](uint32_t a, uint32_t b) {
    for (size_t i = 0; i < decided; ++i) {
      if (keys[a * width + i] != keys[b * width + i] || isNull(a, i) != isNull(b, i)) return false;
    }
    return true;
  };
  for (uint32_t first = 0; first < rowCount;) {
    uint32_t end = first + 1;
    while (end < rowCount && sameKeys(permutation[first], permutation[end])) ++end;
    if (end - first > 1) std::sort(permutation.begin() + first, permutation.begin() + end, before);
    first = end;
  }
}

void ResultSet::limit(uint32_t rows) {
  if (rows >= rowCount) return;
  rowCount = rows;
  if (hasPermutation_) permutation.resize(rows);
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

void ResultSet::populateCSV(Buffer& out) {
  out.reset();
  const std::string head = getHeader(",") + "\n";
  out.write(head.data(), head.size());
  const unsigned short columns = getNumberOfSelectCols();
  // Floating-point values are written in full, so that the text reads back
  // as the same values.
  std::vector<bool> exact(columns);
  std::vector<bool> nullable(columns);
  for (unsigned short k = 0; k < columns; ++k) {
    const DATA_TYPE type = getSelectDataType(k);
    exact[k] = type == DOUBLE || type == FLOAT;
    nullable[k] = selectMayBeNull(k);
  }
  std::string line;
  for (uint32_t position = 0; position < rowCount; ++position) {
    if (position % kRowsPerInterruptCheck == 0) checkInterrupt();
    setRow(position);
    line.clear();
    if (position > 0) {
      line += '\n';
    }
    for (unsigned short k = 0; k < columns; ++k) {
      if (k > 0) {
        line += ',';
      }
      // A NULL is an empty field: nothing is appended.
      if (!exact[k]) {
        if (!nullable[k] || getSelectPointer(k) != nullptr) appendCsvField(line, getSelectString(k));
        continue;
      }
      void* const value = getSelectPointer(k);
      if (value != nullptr) appendCsvField(line, getExactStringFromPtr(value, getSelectDataType(k)));
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

uint32_t ResultSet::selectRun(uint32_t first, uint32_t end, ValueRun* runs, const void** scratch) {
  const uint32_t count = std::min(end - first, kMaxRunRows);
  selectRows(first, first + count, scratch);
  const unsigned short columns = getNumberOfSelectCols();
  for (unsigned short k = 0; k < columns; ++k) runs[k] = ValueRun{nullptr, scratch + size_t{k} * count, 0};
  return count;
}

void ResultSet::watchTable(const std::string& tableName,
                           std::shared_ptr<const uint64_t> changes) {
  const uint64_t seen = *changes;
  watches_.push_back(TableWatch{tableName, std::move(changes), seen});
}

void ResultSet::checkValid() const {
  for (const TableWatch& watch : watches_) {
    if (*watch.changes != watch.seen) {
      throw DatabaseException(ErrorKind::kStaleResult, "Query result is no longer valid: table %s has changed",
                              watch.tableName.c_str());
    }
  }
}
