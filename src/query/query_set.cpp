// The cursor over a query result: positioning, reading cells in the types
// asked for, and reading rows and columns in bulk.

#include "query/query_set.h"

#include <cmath>
#include <limits>
#include <type_traits>

#include "catalogue/database.h"
#include "errors/database_exception.h"
#include "storage/buffer.h"
#include "storage/unaligned.h"

QuerySet::QuerySet(std::unique_ptr<ResultSet> result, std::shared_ptr<Database> database)
    : database_(std::move(database)), result_(std::move(result)) {
  if (result_ != nullptr && result_->rowCount > 0) result_->setRow(0);
}

QuerySet::~QuerySet() {
  const DatabaseLock::Hold hold(lock());
  result_.reset();
}

QuerySet& QuerySet::operator=(QuerySet other) noexcept {
  database_.swap(other.database_);
  result_.swap(other.result_);
  return *this;
}

DatabaseLock* QuerySet::lock() const { return database_ == nullptr ? nullptr : &database_->lock(); }

bool QuerySet::closed() const { return database_ != nullptr && database_->isClosed(); }

void QuerySet::requireOpen() const {
  if (database_ != nullptr) database_->requireOpen();
}

uint32_t QuerySet::getNumberOfRows() const {
  requireOpen();
  return result_ == nullptr ? 0 : result_->rowCount;
}

unsigned short QuerySet::getNumberOfCols() const {
  requireOpen();
  return result_ == nullptr ? 0 : result_->getNumberOfSelectCols();
}

void QuerySet::setRow(unsigned int row) {
  if (result_ == nullptr) {
    throw DatabaseException("The cursor holds no query result");
  }
  requireOpen();
  result_->checkValid();
  if (row >= result_->rowCount) {
    throw DatabaseException("Row %u is out of range: the result has %u rows", row,
                            result_->rowCount);
  }
  result_->setRow(row);
}

ResultSet& QuerySet::valid() const {
  if (result_ == nullptr) {
    throw DatabaseException("The cursor holds no query result");
  }
  requireOpen();
  result_->checkValid();
  return *result_;
}

void QuerySet::requireRows(const ResultSet& result, uint32_t first, uint32_t end) {
  if (first > end || end > result.rowCount) {
    throw DatabaseException("Rows %u to %u are out of range: the result has %u rows", first, end,
                            result.rowCount);
  }
}

void QuerySet::requireColumn(ResultSet& result, unsigned short col) {
  const unsigned short columns = result.getNumberOfSelectCols();
  if (col >= columns) {
    throw DatabaseException("Column %d is out of range: the result has %d columns", col, columns);
  }
}

void QuerySet::readColumn(unsigned short col, uint32_t first, uint32_t end, const void** out) const {
  ResultSet& result = valid();
  requireRows(result, first, end);
  requireColumn(result, col);
  const RowRestorer restorer(result);
  result.selectPointers(col, first, end, out);
}

void QuerySet::readColumns(uint32_t first, uint32_t end, const void** out) const {
  ResultSet& result = valid();
  requireRows(result, first, end);
  const RowRestorer restorer(result);
  result.selectRows(first, end, out);
}

QuerySet::RowRestorer::~RowRestorer() {
  // Without rows nothing has moved the position.
  if (result_.rowCount > 0) result_.setRow(current_);
}

ResultSet& QuerySet::readable(unsigned short col) const {
  valid();
  if (result_->rowCount == 0) {
    throw DatabaseException("The query result has no rows");
  }
  requireColumn(*result_, col);
  return *result_;
}

bool QuerySet::isNull(unsigned short col) const { return readable(col).getSelectPointer(col) == nullptr; }

std::string QuerySet::getString(unsigned short col) const {
  return readable(col).getSelectString(col);
}

namespace {

// Converts a floating-point value to the integer type I, truncating toward
// zero; NaN and values outside I's range cannot be represented and throw
// `message`.
template <typename I, typename F>
I truncate(F value, const char* message, unsigned short col) {
  constexpr long double low = static_cast<long double>(std::numeric_limits<I>::min());
  constexpr long double high = static_cast<long double>(std::numeric_limits<I>::max());
  const long double truncated = std::trunc(static_cast<long double>(value));
  if (!(truncated >= low && truncated <= high)) {
    throw DatabaseException(message, col);
  }
  return static_cast<I>(truncated);
}

constexpr const char* kLongMessage = "Unable to convert column %d to long. Incompatible data type.";
constexpr const char* kIntMessage = "Unable to convert column %d to int. Incompatible data type.";
constexpr const char* kDoubleMessage =
    "Unable to convert column %d to double. Incompatible data type.";
constexpr const char* kFloatMessage =
    "Unable to convert column %d to float. Incompatible data type.";
constexpr const char* kLongRangeMessage =
    "Unable to convert column %d to long. Value out of range.";
constexpr const char* kIntRangeMessage = "Unable to convert column %d to int. Value out of range.";

using unaligned::load;

// The stored value of selected column `col` in the current row; throws for
// a NULL, which no number stands for.
const void* presentValue(ResultSet& result, unsigned short col) {
  const void* const value = result.getSelectPointer(col);
  if (value == nullptr) throw DatabaseException("Column %d of the current row is NULL", col);
  return value;
}

// Rounds to single precision; magnitudes beyond its range become infinite.
float narrowToFloat(double value) {
  if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
    return value > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(value);
}

// Calls `convert` with the value of numeric selected column `col` in the
// current row, loaded as its own C++ type; throws `message` for a column of
// another type.
template <typename Convert>
auto withNumericCell(ResultSet& result, unsigned short col, const char* message, Convert convert) {
  const DATA_TYPE type = result.getSelectDataType(col);
  if (!isNumeric(type)) {
    throw DatabaseException(message, col);
  }
  const void* value = presentValue(result, col);
  switch (type) {
    case LONG:
      return convert(load<int64_t>(value));
    case INT:
      return convert(load<int32_t>(value));
    case SHORT:
      return convert(load<int16_t>(value));
    case DOUBLE:
      return convert(load<double>(value));
    default:
      return convert(load<float>(value));
  }
}

// An integer as I, keeping its low bits; a floating-point value truncated
// (see truncate).
template <typename I, typename V>
I integerFrom(V value, const char* rangeMessage, unsigned short col) {
  if constexpr (std::is_floating_point_v<V>) {
    return truncate<I>(value, rangeMessage, col);
  } else {
    return static_cast<I>(value);
  }
}

}  // namespace

int64_t QuerySet::getLong(unsigned short col) const {
  return withNumericCell(readable(col), col, kLongMessage,
                         [col](auto value) { return integerFrom<int64_t>(value, kLongRangeMessage, col); });
}

int32_t QuerySet::getInt(unsigned short col) const {
  return withNumericCell(readable(col), col, kIntMessage,
                         [col](auto value) { return integerFrom<int32_t>(value, kIntRangeMessage, col); });
}

double QuerySet::getDouble(unsigned short col) const {
  return withNumericCell(readable(col), col, kDoubleMessage,
                         [](auto value) { return static_cast<double>(value); });
}

float QuerySet::getFloat(unsigned short col) const {
  return withNumericCell(readable(col), col, kFloatMessage, [](auto value) {
    if constexpr (std::is_same_v<decltype(value), double>) {
      return narrowToFloat(value);
    } else {
      return static_cast<float>(value);
    }
  });
}

std::string QuerySet::getHeader(const std::string& separator) const {
  requireOpen();
  return result_ == nullptr ? std::string() : result_->getHeader(separator);
}

DATA_TYPE QuerySet::getColumnType(unsigned short col) const {
  // The type is read from the table, which a change may have freed.
  ResultSet& result = valid();
  requireColumn(result, col);
  return result.getSelectDataType(col);
}

bool QuerySet::mayBeNull(unsigned short col) const {
  ResultSet& result = valid();
  requireColumn(result, col);
  return result.selectMayBeNull(col);
}

void QuerySet::populateCSV(Buffer& out) const {
  ResultSet& result = valid();
  // The result set walks its rows through the current position; keep ours.
  const RowRestorer restorer(result);
  result.populateCSV(out);
}
