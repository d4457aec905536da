// Reading an Arrow C stream into the stored row layout: the schema checked
// against the table's columns, then each batch converted a block of rows at
// a time, column by column, with every value checked against its column.

#include "storage/arrow_stream_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "errors/string_format.h"
#include "storage/text_bytes.h"

namespace {

constexpr int64_t kMillisecondsPerDay = 86400000;

bool bitAt(const void* bits, uint64_t index) {
  return (static_cast<const uint8_t*>(bits)[index >> 3] >> (index & 7) & 1) != 0;
}

// The value at `index` of an array of T. Producers need not align their
// buffers (a batch unpickled from bytes is not), so every read copies.
template <typename T>
T valueAt(const void* values, uint64_t index) {
  T value;
  std::memcpy(&value, static_cast<const char*>(values) + index * sizeof(T), sizeof value);
  return value;
}

// Where block row 0 keeps a column's fixed-width value; rows are `stride`
// bytes apart.
struct Slots {
  char* first;
  size_t stride;

  template <typename T>
  void put(uint32_t row, T value) const {
    std::memcpy(first + size_t{row} * stride, &value, sizeof value);
  }
};

// Copies `count` integers from `values` (absolute index `base` onwards),
// skipping nulls; returns the block row of the first that type D cannot
// hold, or `count`.
template <typename S, typename D>
uint32_t copyIntegers(const void* values, const void* validity, uint64_t base, uint32_t count, Slots slots) {
  for (uint32_t row = 0; row < count; ++row) {
    if (validity != nullptr && !bitAt(validity, base + row)) continue;
    const S value = valueAt<S>(values, base + row);
    if (!std::in_range<D>(value)) return row;
    slots.put(row, static_cast<D>(value));
  }
  return count;
}

template <typename S>
uint32_t copyIntegersAs(DATA_TYPE type, const void* values, const void* validity, uint64_t base, uint32_t count,
                        Slots slots) {
  if (type == LONG) return copyIntegers<S, int64_t>(values, validity, base, count, slots);
  if (type == INT) return copyIntegers<S, int32_t>(values, validity, base, count, slots);
  return copyIntegers<S, int16_t>(values, validity, base, count, slots);
}

// Floating-point values; a finite value that D rounds to an infinity does
// not fit.
template <typename S, typename D>
uint32_t copyFloats(const void* values, const void* validity, uint64_t base, uint32_t count, Slots slots) {
  for (uint32_t row = 0; row < count; ++row) {
    if (validity != nullptr && !bitAt(validity, base + row)) continue;
    const S value = valueAt<S>(values, base + row);
    const D stored = static_cast<D>(value);
    if (std::isinf(stored) && !std::isinf(value)) return row;
    slots.put(row, stored);
  }
  return count;
}

template <typename S>
uint32_t copyFloatsAs(DATA_TYPE type, const void* values, const void* validity, uint64_t base, uint32_t count,
                      Slots slots) {
  if (type == DOUBLE) return copyFloats<S, double>(values, validity, base, count, slots);
  return copyFloats<S, float>(values, validity, base, count, slots);
}

// Day counts from 1970-01-01 (date64 milliseconds floored to their day);
// a day outside 0 .. MAX_DATE_DAYS does not fit.
template <typename S>
uint32_t copyDays(const void* values, S perDay, const void* validity, uint64_t base, uint32_t count, Slots slots) {
  for (uint32_t row = 0; row < count; ++row) {
    if (validity != nullptr && !bitAt(validity, base + row)) continue;
    const S value = valueAt<S>(values, base + row);
    const S days = value / perDay - (value % perDay < 0 ? 1 : 0);
    if (days < 0 || days > MAX_DATE_DAYS) return row;
    slots.put(row, static_cast<uint16_t>(days));
  }
  return count;
}

// The proleptic Gregorian date of any day count from 1970-01-01, for
// messages about dates a column cannot hold.
std::string dateText(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shifted = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return string_format("%04lld-%02lld-%02lld", static_cast<long long>(year), static_cast<long long>(month),
                       static_cast<long long>(day));
}

}  // namespace

ArrowStreamReader::ArrowStreamReader(ArrowArrayStream& stream, std::vector<DATA_TYPE> types,
                                     std::vector<unsigned char> nullable, std::vector<std::string> names,
                                     bool convertAhead)
    : types_(std::move(types)), nullable_(std::move(nullable)), names_(std::move(names)) {
  stream_.raw = stream;
  stream.release = nullptr;
  if (stream_.raw.release == nullptr) throw DatabaseException("The Arrow stream was released before it was read");
  if (nullable_.empty()) nullable_.assign(types_.size(), 0);
  names_.resize(types_.size());
  for (size_t column = 0; column < names_.size(); ++column) {
    if (names_[column].empty()) names_[column] = string_format("%d", static_cast<int>(column) + 1);
  }
  config_.init(types_, nullable_);
  readSchema();
  const size_t rowBytes =
      config_.fixedWidth + 1 + config_.numStrings * (sizeof(char*) + sizeof(size_t) + sizeof(uint64_t));
  blockRows_ = static_cast<uint32_t>(std::clamp<size_t>(kBlockBytes / rowBytes, kMinBlockRows, kBlockRows));
  for (Block& block : blocks_) {
    block.fixed.assign(size_t{blockRows_} * config_.fixedWidth + 1, 0);
    block.texts.assign(size_t{blockRows_} * config_.numStrings, "");
    block.textBytes.assign(block.texts.size(), 1);
    block.textHashes.assign(block.texts.size(), text_bytes::hash("", 0));
  }
  for (Batch& batch : batches_) batch.dictionaries.resize(types_.size());
  terminated_.resize(config_.numStrings);
  if (convertAhead) worker_ = std::make_unique<TaskThread>();
}

// ---------------------------------------------------------------- schema

namespace {

// How values of an Arrow format are read; kOther for any format the
// loader does not read.
ArrowStreamReader::Source sourceOf(std::string_view format) {
  using S = ArrowStreamReader::Source;
  static const std::pair<std::string_view, S> kFormats[] = {
      {"n", S::kNull},     {"c", S::kInt8},     {"C", S::kUInt8},     {"s", S::kInt16},   {"S", S::kUInt16},
      {"i", S::kInt32},    {"I", S::kUInt32},   {"l", S::kInt64},     {"L", S::kUInt64},  {"f", S::kFloat32},
      {"g", S::kFloat64},  {"b", S::kBool},     {"tdD", S::kDate32},  {"tdm", S::kDate64}, {"u", S::kUtf8},
      {"U", S::kLargeUtf8}, {"vu", S::kUtf8View},
  };
  for (const auto& [name, source] : kFormats) {
    if (name == format) return source;
  }
  return S::kOther;
}

// The name of an Arrow format in messages.
std::string formatName(std::string_view format) {
  static const std::pair<std::string_view, const char*> kNames[] = {
      {"n", "null"},     {"c", "int8"},      {"C", "uint8"},      {"s", "int16"},        {"S", "uint16"},
      {"i", "int32"},    {"I", "uint32"},    {"l", "int64"},      {"L", "uint64"},       {"e", "float16"},
      {"f", "float32"},  {"g", "float64"},   {"b", "bool"},       {"tdD", "date32"},     {"tdm", "date64"},
      {"u", "utf8"},     {"U", "large_utf8"}, {"vu", "utf8_view"}, {"z", "binary"},      {"Z", "large_binary"},
      {"vz", "binary_view"}, {"+s", "struct"}, {"+l", "list"},    {"+L", "large_list"},  {"+m", "map"},
  };
  for (const auto& [name, text] : kNames) {
    if (name == format) return text;
  }
  if (format.starts_with("ts")) return "timestamp";
  if (format.starts_with("tt")) return "time";
  if (format.starts_with("tD")) return "duration";
  if (format.starts_with("d:")) return "decimal";
  if (format.starts_with("w:")) return "fixed_size_binary";
  return "with format '" + std::string(format) + "'";
}

bool isInteger(ArrowStreamReader::Source source) {
  using S = ArrowStreamReader::Source;
  return source >= S::kInt8 && source <= S::kUInt64;
}

// The integer at `index` of an array of integer `source` values (a uint64
// beyond the int64 range wraps; only dictionary indices, which cannot
// reach it, and messages about narrower sources read it so).
int64_t integerAt(ArrowStreamReader::Source source, const void* values, uint64_t index) {
  using S = ArrowStreamReader::Source;
  switch (source) {
    case S::kInt8: return valueAt<int8_t>(values, index);
    case S::kUInt8: return valueAt<uint8_t>(values, index);
    case S::kInt16: return valueAt<int16_t>(values, index);
    case S::kUInt16: return valueAt<uint16_t>(values, index);
    case S::kInt32: return valueAt<int32_t>(values, index);
    case S::kUInt32: return valueAt<uint32_t>(values, index);
    case S::kInt64: return valueAt<int64_t>(values, index);
    default: return static_cast<int64_t>(valueAt<uint64_t>(values, index));
  }
}

bool isText(ArrowStreamReader::Source source) {
  using S = ArrowStreamReader::Source;
  return source == S::kUtf8 || source == S::kLargeUtf8 || source == S::kUtf8View;
}

// Whether values read as `source` may become values of `type`.
bool converts(ArrowStreamReader::Source source, DATA_TYPE type) {
  using S = ArrowStreamReader::Source;
  if (source == S::kNull) return true;
  if (isInteger(source)) return type == LONG || type == INT || type == SHORT;
  if (source == S::kFloat32 || source == S::kFloat64) return isFloating(type);
  if (source == S::kBool) return type == BOOL;
  if (source == S::kDate32 || source == S::kDate64) return type == DATE;
  return isText(source) && type == STRING;
}

}  // namespace

void ArrowStreamReader::readSchema() {
  const int code = stream_.raw.get_schema(&stream_.raw, &schema_.raw);
  if (code != 0) {
    schema_.raw.release = nullptr;
    throw DatabaseException("%s", streamError(code).c_str());
  }
  const ArrowSchema& schema = schema_.raw;
  if (schema.format == nullptr || std::string_view(schema.format) != "+s") {
    throw DatabaseException("The Arrow stream does not hold record batches: its type is %s",
                            formatName(schema.format == nullptr ? "" : schema.format).c_str());
  }
  if (schema.n_children != static_cast<int64_t>(types_.size())) {
    throw DatabaseException("The Arrow stream has %lld columns, the table %d: columns are matched by position",
                            static_cast<long long>(schema.n_children), static_cast<int>(types_.size()));
  }
  columns_.resize(types_.size());
  for (unsigned short column = 0; column < types_.size(); ++column) checkColumn(column, *schema.children[column]);
}

void ArrowStreamReader::checkColumn(unsigned short column, const ArrowSchema& schema) {
  const std::string_view format = schema.format == nullptr ? "" : schema.format;
  Column& read = columns_[column];
  read.source = sourceOf(format);
  std::string arrowType = formatName(format);
  bool loadable = converts(read.source, types_[column]);
  if (schema.dictionary != nullptr) {
    const std::string_view values = schema.dictionary->format == nullptr ? "" : schema.dictionary->format;
    read.dictionary = true;
    read.values = sourceOf(values);
    arrowType = "dictionary of " + formatName(values);
    loadable = isInteger(read.source) && isText(read.values) && types_[column] == STRING;
  }
  if (!loadable) {
    throw DatabaseException("Column %s of type %s cannot be loaded from Arrow type %s", names_[column].c_str(),
                            getTypeKeyword(types_[column]), arrowType.c_str());
  }
}

// ---------------------------------------------------------------- batches

std::string ArrowStreamReader::streamError(int code) const {
  const char* detail = nullptr;
  if (stream_.raw.get_last_error != nullptr) detail = stream_.raw.get_last_error(const_cast<ArrowArrayStream*>(&stream_.raw));
  const std::string reason = detail != nullptr && *detail != '\0' ? detail : std::strerror(code);
  return string_format("Reading the Arrow stream failed after %llu rows: %s",
                       static_cast<unsigned long long>(streamRows_), reason.c_str());
}

bool ArrowStreamReader::nextBatch(Batch& batch) {
  batch.array.reset();
  batch.rows = 0;
  batch.next = 0;
  ArrowArray& raw = batch.array.raw;
  const int code = stream_.raw.get_next(&stream_.raw, &raw);
  if (code != 0) {
    raw.release = nullptr;
    throw DatabaseException("%s", streamError(code).c_str());
  }
  // A slow producer is a long wait: a stop asked for meanwhile ends it here.
  checkInterrupt();
  if (raw.release == nullptr) return false;
  checkBatch(raw);
  for (unsigned short column = 0; column < columns_.size(); ++column) {
    if (columns_[column].dictionary) {
      prepareDictionary(batch.dictionaries[column], column, *raw.children[column]->dictionary);
    }
  }
  batch.rows = static_cast<uint64_t>(raw.length);
  streamRows_ += batch.rows;
  return true;
}

namespace {

// Buffers an array of `source` values needs, the validity bitmap counted;
// at least that many for a view, which adds its data buffers.
int64_t buffersOf(ArrowStreamReader::Source source) {
  using S = ArrowStreamReader::Source;
  if (source == S::kNull) return 0;
  if (source == S::kUtf8 || source == S::kLargeUtf8) return 3;
  return source == S::kUtf8View ? 3 : 2;
}

// Whether `array` is a well-formed array of `rows` rows from `first`, as
// far as its fields tell.
bool wellFormed(const ArrowArray* array, ArrowStreamReader::Source source, int64_t first, int64_t rows) {
  if (array == nullptr || array->length < 0 || array->offset < 0 || array->length < first + rows) return false;
  const int64_t buffers = buffersOf(source);
  if (array->n_buffers < buffers || (buffers > 0 && array->buffers == nullptr)) return false;
  if (array->null_count != 0 && buffers > 0 && array->buffers[0] == nullptr && array->null_count > 0) return false;
  for (int64_t buffer = 1; buffer < buffers; ++buffer) {
    if (array->buffers[buffer] == nullptr && array->length > 0) return false;
  }
  return true;
}

}  // namespace

void ArrowStreamReader::checkBatch(const ArrowArray& batch) const {
  bool sound = batch.length >= 0 && batch.offset >= 0 && batch.n_children == static_cast<int64_t>(columns_.size()) &&
               (batch.n_children == 0 || batch.children != nullptr);
  if (sound && batch.null_count != 0 && batch.n_buffers > 0 && batch.buffers != nullptr && batch.buffers[0] != nullptr) {
    throw DatabaseException("The Arrow stream holds a row that is null as a whole, after %llu rows",
                            static_cast<unsigned long long>(streamRows_));
  }
  for (size_t column = 0; sound && column < columns_.size(); ++column) {
    const Column& read = columns_[column];
    const ArrowArray* const array = batch.children[column];
    sound = wellFormed(array, read.source, batch.offset, batch.length);
    if (sound && read.dictionary) {
      const ArrowArray* const values = array->dictionary;
      sound = values != nullptr && wellFormed(values, read.values, 0, values->length);
    }
  }
  if (!sound) {
    throw DatabaseException("The Arrow stream handed over a malformed batch after %llu rows",
                            static_cast<unsigned long long>(streamRows_));
  }
}

namespace {

// The text at absolute index `index` of a text array; false when its
// offsets are malformed.
bool textAt(const ArrowArray& array, ArrowStreamReader::Source source, uint64_t index, const char*& text,
            int64_t& length) {
  using S = ArrowStreamReader::Source;
  if (source == S::kUtf8View) {
    const char* const view = static_cast<const char*>(array.buffers[1]) + 16 * index;
    int32_t size = 0;
    std::memcpy(&size, view, sizeof size);
    length = size;
    if (size <= 12) {
      text = view + 4;
      return size >= 0;
    }
    int32_t buffer = 0;
    int32_t offset = 0;
    std::memcpy(&buffer, view + 8, sizeof buffer);
    std::memcpy(&offset, view + 12, sizeof offset);
    // The last buffer holds the data buffers' sizes.
    if (buffer < 0 || offset < 0 || buffer >= array.n_buffers - 3) return false;
    text = static_cast<const char*>(array.buffers[2 + buffer]) + offset;
    return true;
  }
  int64_t start = 0;
  int64_t end = 0;
  if (source == S::kUtf8) {
    start = valueAt<int32_t>(array.buffers[1], index);
    end = valueAt<int32_t>(array.buffers[1], index + 1);
  } else {
    start = valueAt<int64_t>(array.buffers[1], index);
    end = valueAt<int64_t>(array.buffers[1], index + 1);
  }
  text = static_cast<const char*>(array.buffers[2]) + start;
  length = end - start;
  return start >= 0 && end >= start;
}

// Whether the bytes of the utf8 texts at absolute indices [base, base +
// count) hold a NUL, or their offsets are out of order (then each text is
// checked on its own).
bool holdsNul(const ArrowArray& array, uint64_t base, uint32_t count) {
  const int32_t start = valueAt<int32_t>(array.buffers[1], base);
  const int32_t end = valueAt<int32_t>(array.buffers[1], base + count);
  if (start < 0 || end < start) return true;
  return std::memchr(static_cast<const char*>(array.buffers[2]) + start, '\0', static_cast<size_t>(end - start)) !=
         nullptr;
}

const void* validityOf(const ArrowArray& array) { return array.null_count == 0 ? nullptr : array.buffers[0]; }

}  // namespace

void ArrowStreamReader::prepareDictionary(DictionaryTexts& texts, unsigned short column,
                                          const ArrowArray& dictionary) const {
  const Source source = columns_[column].values;
  texts.bytes.clear();
  texts.offsets.assign(static_cast<size_t>(dictionary.length), 0);
  texts.lengths.assign(static_cast<size_t>(dictionary.length), 0);
  texts.hashes.assign(static_cast<size_t>(dictionary.length), 0);
  const void* const validity = validityOf(dictionary);
  for (int64_t entry = 0; entry < dictionary.length; ++entry) {
    const uint64_t index = static_cast<uint64_t>(dictionary.offset + entry);
    if (validity != nullptr && !bitAt(validity, index)) {
      texts.lengths[entry] = SIZE_MAX;
      continue;
    }
    const char* text = nullptr;
    int64_t length = 0;
    if (!textAt(dictionary, source, index, text, length)) {
      throw DatabaseException("The dictionary of column %s in the Arrow stream has malformed offsets",
                              names_[column].c_str());
    }
    texts.offsets[entry] = texts.bytes.size();
    texts.bytes.insert(texts.bytes.end(), text, text + length);
    texts.bytes.push_back('\0');
    const bool holdsNul = std::memchr(text, '\0', static_cast<size_t>(length)) != nullptr;
    texts.lengths[entry] = holdsNul ? 0 : static_cast<size_t>(length) + 1;
    texts.hashes[entry] = text_bytes::hash(text, static_cast<size_t>(length));
  }
}

// ---------------------------------------------------------------- blocks

bool ArrowStreamReader::nextRow() {
  if (finished_) return false;
  // Reading ends at the end of the stream and at the first failure.
  finished_ = true;
  if (!started_ || ++row_ >= block_->rows) {
    if (!loadBlock()) return false;
    row_ = 0;
    started_ = true;
  }
  if (row_ == block_->failure.row) {
    throw DatabaseException("%s%s", block_->failure.message.c_str(), where().c_str());
  }
  char* const row = block_->fixed.data() + size_t{row_} * config_.fixedWidth;
  view_.reset(row, row + config_.fixedWidth, &config_, 0);
  finished_ = false;
  return true;
}

bool ArrowStreamReader::loadBlock() {
  rowsBefore_ += block_->rows;
  block_->rows = 0;
  if (worker_ == nullptr) {
    Job job;
    if (!nextJob(job)) return false;
    convertBlock(*block_, job);
    currentBatch_ = job.batch;
    return true;
  }
  if (!started_) startAhead();
  // Waiting for a thread that has not begun the block would cost more
  // than converting it here.
  if (worker_->withdraw()) {
    convertBlock(*ahead_, aheadJob_);
  } else {
    worker_->wait();
  }
  // The block ahead is taken in its turn: what kept it from being
  // converted fails the load only once every row before it was handed out.
  if (aheadError_ != nullptr) std::rethrow_exception(std::exchange(aheadError_, nullptr));
  if (aheadJob_.batch == nullptr) return false;
  std::swap(block_, ahead_);
  currentBatch_ = aheadJob_.batch;
  startAhead();
  return true;
}

bool ArrowStreamReader::nextJob(Job& job) {
  while (newestBatch_->next >= newestBatch_->rows) {
    if (streamEnded_) return false;
    // The current block's batch stays; the other one is no longer read.
    newestBatch_ = currentBatch_ == &batches_[0] ? &batches_[1] : &batches_[0];
    if (!nextBatch(*newestBatch_)) {
      streamEnded_ = true;
      return false;
    }
  }
  Batch& batch = *newestBatch_;
  job.batch = &batch;
  job.first = batch.next;
  job.count = static_cast<uint32_t>(std::min<uint64_t>(blockRows_, batch.rows - batch.next));
  batch.next += job.count;
  return true;
}

void ArrowStreamReader::startAhead() {
  aheadJob_ = Job();
  Job job;
  try {
    if (!nextJob(job)) return;
  } catch (...) {
    aheadError_ = std::current_exception();
    return;
  }
  aheadJob_ = job;
  Block* const target = ahead_;
  worker_->run([this, target, job] { convertBlock(*target, job); });
}

void ArrowStreamReader::convertBlock(Block& block, const Job& job) const {
  block.failure = Failure();
  block.rows = job.count;
  std::memset(block.fixed.data(), 0, size_t{job.count} * config_.fixedWidth);
  const ArrowArray& batch = job.batch->array.raw;
  const uint64_t batchOffset = static_cast<uint64_t>(batch.offset);
  for (unsigned short column = 0; column < columns_.size(); ++column) {
    const ArrowArray& array = *batch.children[column];
    const uint64_t base = static_cast<uint64_t>(array.offset) + batchOffset + job.first;
    convertNulls(block, column, array, base, job.count);
    if (types_[column] != STRING) {
      convertFixed(block, column, array, base, job.count);
    } else if (columns_[column].dictionary) {
      convertDictionary(block, job.batch->dictionaries[column], column, array, base, job.count);
    } else {
      convertTexts(block, column, array, base, job.count);
    }
  }
}

void ArrowStreamReader::Block::setEmpty(size_t entry) {
  setText(entry, "", 1, text_bytes::hash("", 0));
}

void ArrowStreamReader::Block::fail(uint32_t row, std::string message) {
  // Columns are converted in order: at equal rows the earlier column's
  // failure stands.
  if (row >= failure.row) return;
  failure.row = row;
  failure.message = std::move(message);
}

void ArrowStreamReader::convertNulls(Block& block, unsigned short column, const ArrowArray& array, uint64_t base,
                                     uint32_t count) const {
  const bool allNull = columns_[column].source == Source::kNull;
  const void* const validity = allNull ? nullptr : validityOf(array);
  if (!allNull && validity == nullptr) return;
  for (uint32_t row = 0; row < block.rowsBefore(count); ++row) {
    if (!allNull && bitAt(validity, base + row)) continue;
    if (!isNullable(column)) {
      block.fail(row, string_format("Column %s cannot hold the null value; declare the column with null to load missing "
                              "values",
                              names_[column].c_str()));
      return;
    }
    config_.setNull(block.fixed.data() + size_t{row} * config_.fixedWidth, column);
  }
}

void ArrowStreamReader::convertFixed(Block& block, unsigned short column, const ArrowArray& array, uint64_t base,
                                     uint32_t count) const {
  const Source source = columns_[column].source;
  if (source == Source::kNull) return;
  const uint32_t rows = block.rowsBefore(count);
  const DATA_TYPE type = types_[column];
  const Slots slots{block.fixed.data() + config_.offsets[config_.positions[column]], config_.fixedWidth};
  const void* const validity = validityOf(array);
  const void* const values = array.buffers[1];
  uint32_t stored = rows;
  std::string value;
  switch (source) {
    case Source::kInt8: stored = copyIntegersAs<int8_t>(type, values, validity, base, rows, slots); break;
    case Source::kUInt8: stored = copyIntegersAs<uint8_t>(type, values, validity, base, rows, slots); break;
    case Source::kInt16: stored = copyIntegersAs<int16_t>(type, values, validity, base, rows, slots); break;
    case Source::kUInt16: stored = copyIntegersAs<uint16_t>(type, values, validity, base, rows, slots); break;
    case Source::kInt32: stored = copyIntegersAs<int32_t>(type, values, validity, base, rows, slots); break;
    case Source::kUInt32: stored = copyIntegersAs<uint32_t>(type, values, validity, base, rows, slots); break;
    case Source::kInt64:
      stored = copyIntegersAs<int64_t>(type, values, validity, base, rows, slots);
      if (stored < rows) value = std::to_string(valueAt<int64_t>(values, base + stored));
      break;
    case Source::kUInt64:
      stored = copyIntegersAs<uint64_t>(type, values, validity, base, rows, slots);
      if (stored < rows) value = std::to_string(valueAt<uint64_t>(values, base + stored));
      break;
    case Source::kFloat32: stored = copyFloatsAs<float>(type, values, validity, base, rows, slots); break;
    case Source::kFloat64:
      stored = copyFloatsAs<double>(type, values, validity, base, rows, slots);
      if (stored < rows) value = string_format("%g", valueAt<double>(values, base + stored));
      break;
    case Source::kBool:
      for (uint32_t row = 0; row < rows; ++row) {
        if (validity == nullptr || bitAt(validity, base + row)) slots.put(row, uint8_t{bitAt(values, base + row)});
      }
      break;
    case Source::kDate32:
      stored = copyDays<int32_t>(values, 1, validity, base, rows, slots);
      if (stored < rows) value = dateText(valueAt<int32_t>(values, base + stored));
      break;
    case Source::kDate64: {
      stored = copyDays<int64_t>(values, kMillisecondsPerDay, validity, base, rows, slots);
      if (stored < rows) {
        const int64_t ms = valueAt<int64_t>(values, base + stored);
        value = dateText(ms / kMillisecondsPerDay - (ms % kMillisecondsPerDay < 0 ? 1 : 0));
      }
      break;
    }
    default: break;
  }
  if (stored >= rows) return;
  // The narrower integer sources need no text of their own: only their
  // wider targets' ranges can be passed, and each is read as an int64.
  if (value.empty()) value = std::to_string(integerAt(source, values, base + stored));
  const char* const range = type == DATE ? " (1970-01-01 to 2149-06-06)" : "";
  block.fail(stored, string_format("Value %s does not fit column %s of type %s%s", value.c_str(), names_[column].c_str(),
                             getTypeKeyword(type), range));
}

void ArrowStreamReader::storeText(Block& block, unsigned short column, uint32_t row, const char* text,
                                  int64_t length, bool searchNul) const {
  const size_t entry = size_t{row} * config_.numStrings + (config_.positions[column] - config_.numFixed);
  if (length + 1 > static_cast<int64_t>(MAX_STRING_BYTES)) {
    block.fail(row, string_format("Text of %lld bytes in column %s is too long: a text value holds at most %d bytes "
                            "including its terminating NUL",
                            static_cast<long long>(length + 1), names_[column].c_str(),
                            static_cast<int>(MAX_STRING_BYTES)));
    return;
  }
  if (searchNul && std::memchr(text, '\0', static_cast<size_t>(length)) != nullptr) {
    block.fail(row, string_format("Text in column %s holds a NUL byte, which a stored text cannot hold",
                            names_[column].c_str()));
    return;
  }
  // The text stays in the batch, which outlives the block.
  block.setText(entry, text, static_cast<size_t>(length) + 1, text_bytes::hash(text, static_cast<size_t>(length)));
}

void ArrowStreamReader::convertTexts(Block& block, unsigned short column, const ArrowArray& array, uint64_t base,
                                     uint32_t count) const {
  const size_t text = config_.positions[column] - config_.numFixed;
  const Source source = columns_[column].source;
  const void* const validity = source == Source::kNull ? nullptr : validityOf(array);
  // Texts of one array lie back to back: one search of their bytes spares
  // a search of each text for a NUL, which is rare.
  const bool searchEach = source != Source::kUtf8 || count == 0 || holdsNul(array, base, count);
  if (source == Source::kUtf8) {
    convertUtf8(block, column, array, base, count, searchEach);
    return;
  }
  for (uint32_t row = 0; row < block.rowsBefore(count); ++row) {
    const size_t entry = size_t{row} * config_.numStrings + text;
    if (source == Source::kNull || (validity != nullptr && !bitAt(validity, base + row))) {
      block.setEmpty(entry);
      continue;
    }
    const char* value = nullptr;
    int64_t length = 0;
    if (!textAt(array, source, base + row, value, length)) {
      block.fail(row, string_format("Column %s of the Arrow stream has malformed text offsets", names_[column].c_str()));
      return;
    }
    storeText(block, column, row, value, length, searchEach);
  }
}

void ArrowStreamReader::convertUtf8(Block& block, unsigned short column, const ArrowArray& array, uint64_t base,
                                    uint32_t count, bool searchEach) const {
  const size_t text = config_.positions[column] - config_.numFixed;
  const void* const validity = validityOf(array);
  const char* const offsets = static_cast<const char*>(array.buffers[1]) + base * sizeof(int32_t);
  const char* const bytes = static_cast<const char*>(array.buffers[2]);
  // Each text ends where the next begins: one offset read a row.
  int32_t start = valueAt<int32_t>(offsets, 0);
  for (uint32_t row = 0; row < block.rowsBefore(count); ++row) {
    const int32_t end = valueAt<int32_t>(offsets, row + 1);
    const size_t entry = size_t{row} * config_.numStrings + text;
    if (validity != nullptr && !bitAt(validity, base + row)) {
      block.setEmpty(entry);
    } else if (start < 0 || end < start) {
      block.fail(row, string_format("Column %s of the Arrow stream has malformed text offsets", names_[column].c_str()));
      return;
    } else {
      storeText(block, column, row, bytes + start, end - start, searchEach);
    }
    start = end;
  }
}

void ArrowStreamReader::convertDictionary(Block& block, const DictionaryTexts& dictionary, unsigned short column,
                                          const ArrowArray& array, uint64_t base, uint32_t count) const {
  const size_t text = config_.positions[column] - config_.numFixed;
  const void* const validity = validityOf(array);
  const int64_t entries = static_cast<int64_t>(dictionary.lengths.size());
  for (uint32_t row = 0; row < block.rowsBefore(count); ++row) {
    const size_t entry = size_t{row} * config_.numStrings + text;
    block.setEmpty(entry);
    if (validity != nullptr && !bitAt(validity, base + row)) continue;
    const int64_t index = integerAt(columns_[column].source, array.buffers[1], base + row);
    if (index < 0 || index >= entries) {
      block.fail(row, string_format("Dictionary index %lld of column %s is out of range", static_cast<long long>(index),
                              names_[column].c_str()));
      return;
    }
    const size_t bytes = dictionary.lengths[index];
    if (bytes == SIZE_MAX) {
      // A valid index of a null entry is a null.
      if (!isNullable(column)) {
        block.fail(row, string_format("Column %s cannot hold the null value; declare the column with null to load "
                                "missing values",
                                names_[column].c_str()));
        return;
      }
      config_.setNull(block.fixed.data() + size_t{row} * config_.fixedWidth, column);
      continue;
    }
    if (bytes == 0) {
      block.fail(row, string_format("Text in column %s holds a NUL byte, which a stored text cannot hold",
                              names_[column].c_str()));
      return;
    }
    block.setText(entry, dictionary.bytes.data() + dictionary.offsets[index], bytes, dictionary.hashes[index]);
  }
}

// ---------------------------------------------------------------- rows

void* ArrowStreamReader::getPointer(unsigned short column) {
  if (!started_ || finished_ || column >= types_.size()) return nullptr;
  char* const row = block_->fixed.data() + size_t{row_} * config_.fixedWidth;
  if (config_.isNull(row, column)) return nullptr;
  const unsigned short position = config_.positions[column];
  if (position < config_.numFixed) return row + config_.offsets[position];
  // Texts lie unterminated in the batch: a copy ends in a NUL.
  const size_t text = position - config_.numFixed;
  const size_t entry = size_t{row_} * config_.numStrings + text;
  terminated_[text].assign(block_->texts[entry], block_->textBytes[entry] - 1);
  return terminated_[text].data();
}

void ArrowStreamReader::getTexts(const char** texts, size_t* bytes) const {
  const size_t first = size_t{row_} * config_.numStrings;
  std::copy_n(block_->texts.begin() + first, config_.numStrings, texts);
  std::copy_n(block_->textBytes.begin() + first, config_.numStrings, bytes);
}

RowBlock ArrowStreamReader::restOfBlock() const {
  RowBlock block;
  if (!started_ || finished_) return block;
  block.config = &config_;
  block.fixed = block_->fixed.data() + size_t{row_} * config_.fixedWidth;
  block.fixedStride = config_.fixedWidth;
  block.texts = block_->texts.data() + size_t{row_} * config_.numStrings;
  block.textBytes = block_->textBytes.data() + size_t{row_} * config_.numStrings;
  block.textHashes = block_->textHashes.data() + size_t{row_} * config_.numStrings;
  block.textStride = config_.numStrings;
  block.rows = block_->rowsBefore(block_->rows) - row_;
  return block;
}

void ArrowStreamReader::skipRows(uint32_t rows) {
  if (rows >= restOfBlock().rows) throw DatabaseException("Rows skipped beyond the converted block");
  row_ += rows;
  char* const row = block_->fixed.data() + size_t{row_} * config_.fixedWidth;
  view_.reset(row, row + config_.fixedWidth, &config_, 0);
}

std::string ArrowStreamReader::where() const {
  return string_format(", row %llu of the Arrow stream", static_cast<unsigned long long>(rowsBefore_ + row_ + 1));
}
