#include "main/arrow/arrow_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "errors/database_exception.h"
#include "main/arrow/utf8.h"
#include "storage/node_config.h"

namespace arrow_export {

namespace {

// Result positions read from the cursor at a time: the value pointers of a
// chunk stay in the cache while each column's loop copies them out.
constexpr uint32_t kChunkRows = 1024;

// The streams of one result share its position, and the streams of several
// results may be read by a consumer's threads at once: batches are read one
// at a time.
std::mutex& readLock() {
  static std::mutex lock;
  return lock;
}

struct Column {
  std::string name;
  DATA_TYPE type;
};

std::string repaired(const std::string& text) {
  if (utf8::valid(text.data(), text.size())) return text;
  std::string out(utf8::repairedSize(text.data(), text.size()), '\0');
  utf8::repair(text.data(), text.size(), out.data());
  return out;
}

// The selected columns' names and types; none for a cursor without a
// result. Reading the types checks that the tables are unchanged.
std::vector<Column> columnsOf(const QuerySet& cursor) {
  std::vector<Column> columns;
  if (cursor.empty()) return columns;
  const unsigned short count = cursor.getNumberOfCols();
  // The header joins the names with NUL, which no name can hold.
  const std::string header = cursor.getHeader(std::string(1, '\0'));
  size_t start = 0;
  for (unsigned short col = 0; col < count; ++col) {
    size_t end = header.find('\0', std::min(start, header.size()));
    if (end == std::string::npos) end = header.size();
    const std::string name = start < end ? header.substr(start, end - start) : std::string();
    columns.push_back(Column{repaired(name), cursor.getColumnType(col)});
    start = end + 1;
  }
  return columns;
}

const char* formatOf(DATA_TYPE type) {
  switch (type) {
    case LONG:
      return "l";
    case INT:
      return "i";
    case SHORT:
      return "s";
    case DOUBLE:
      return "g";
    case FLOAT:
      return "f";
    case STRING:
      return "u";
    case BOOL:
      return "b";
    case DATE:
      return "tdD";
  }
  throw DatabaseException("Unknown data type provided");
}

// ---------------------------------------------------------------- schema

// What a field's schema owns: its name.
struct FieldData {
  std::string name;
};

void releaseField(ArrowSchema* schema) {
  delete static_cast<FieldData*>(schema->private_data);
  schema->release = nullptr;
}

// What the struct's schema owns: its fields, each released on its own
// unless a consumer moved it out (and so cleared its release).
struct StructSchemaData {
  std::vector<ArrowSchema> fields;
  std::vector<ArrowSchema*> pointers;
};

void releaseStructSchema(ArrowSchema* schema) {
  auto* data = static_cast<StructSchemaData*>(schema->private_data);
  for (ArrowSchema& field : data->fields) {
    if (field.release != nullptr) field.release(&field);
  }
  delete data;
  schema->release = nullptr;
}

void fillSchema(const std::vector<Column>& columns, ArrowSchema* out) {
  auto data = std::make_unique<StructSchemaData>();
  data->fields.resize(columns.size());
  data->pointers.resize(columns.size());
  std::vector<std::unique_ptr<FieldData>> names;
  names.reserve(columns.size());
  for (const Column& column : columns) {
    formatOf(column.type);  // refuses an unknown type before anything is handed out
    names.push_back(std::make_unique<FieldData>(FieldData{column.name}));
  }
  // Nothing below throws.
  for (size_t k = 0; k < columns.size(); ++k) {
    ArrowSchema& field = data->fields[k];
    field.format = formatOf(columns[k].type);
    field.name = names[k]->name.c_str();
    field.metadata = nullptr;
    field.flags = ARROW_FLAG_NULLABLE;
    field.n_children = 0;
    field.children = nullptr;
    field.dictionary = nullptr;
    field.release = &releaseField;
    field.private_data = names[k].release();
    data->pointers[k] = &field;
  }
  out->format = "+s";
  out->name = "";
  out->metadata = nullptr;
  out->flags = 0;
  out->n_children = static_cast<int64_t>(columns.size());
  out->children = data->pointers.data();
  out->dictionary = nullptr;
  out->release = &releaseStructSchema;
  out->private_data = data.release();
}

// ---------------------------------------------------------------- batches

void* allocate(size_t bytes) {
  void* memory = std::malloc(std::max<size_t>(bytes, 1));
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

// What a column array owns: its value (or offset) buffer and, for text, its
// byte buffer. buffers[0], the validity bitmap, is absent: there are no
// nulls.
struct ColumnData {
  void* memory[3] = {nullptr, nullptr, nullptr};
  const void* buffers[3] = {nullptr, nullptr, nullptr};

  ColumnData() = default;
  ColumnData(const ColumnData&) = delete;
  ColumnData& operator=(const ColumnData&) = delete;
  ~ColumnData() {
    for (void* block : memory) std::free(block);
  }
};

void releaseColumn(ArrowArray* array) {
  delete static_cast<ColumnData*>(array->private_data);
  array->release = nullptr;
}

// What a batch (the struct array) owns: its columns, each released on its
// own unless a consumer moved it out.
struct BatchData {
  std::vector<ArrowArray> columns;
  std::vector<ArrowArray*> pointers;
  const void* buffers[1] = {nullptr};
};

void releaseBatch(ArrowArray* array) {
  auto* data = static_cast<BatchData*>(array->private_data);
  for (ArrowArray& column : data->columns) {
    if (column.release != nullptr) column.release(&column);
  }
  delete data;
  array->release = nullptr;
}

template <typename T>
T load(const void* value) {
  T v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

// Stored values of type Stored, copied to Out.
template <typename Stored, typename Out>
void copyValues(const void* const* values, size_t count, Out* out) {
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<Out>(load<Stored>(values[i]));
}

// Builds one column of a batch from chunks of stored values.
class ColumnBuilder {
 public:
  // `capacity`: the most rows the batch can have.
  ColumnBuilder(const Column& column, size_t capacity, int64_t textLimit)
      : column_(column), data_(std::make_unique<ColumnData>()), textLimit_(textLimit) {
    switch (column.type) {
      case LONG:
      case DOUBLE:
        data_->memory[1] = allocate(capacity * 8);
        break;
      case INT:
      case FLOAT:
      case DATE:
        data_->memory[1] = allocate(capacity * 4);
        break;
      case SHORT:
        data_->memory[1] = allocate(capacity * 2);
        break;
      case BOOL:
        data_->memory[1] = std::calloc((capacity + 7) / 8 + 1, 1);
        if (data_->memory[1] == nullptr) throw std::bad_alloc();
        break;
      case STRING:
        data_->memory[1] = allocate((capacity + 1) * sizeof(int32_t));
        static_cast<int32_t*>(data_->memory[1])[0] = 0;
        textCapacity_ = std::min<size_t>(capacity, kChunkRows) * 16;
        data_->memory[2] = allocate(textCapacity_);
        break;
      default:
        throw DatabaseException("Unknown data type provided");
    }
  }

  bool isText() const { return column_.type == STRING; }
  size_t rows() const { return rows_; }

  // Appends values[0 .. count): all of them, except that a text column
  // stops before the text that would take its bytes past the limit.
  // Returns how many it appended.
  size_t append(const void* const* values, size_t count) {
    void* const out = data_->memory[1];
    switch (column_.type) {
      case LONG:
        copyValues<int64_t>(values, count, static_cast<int64_t*>(out) + rows_);
        break;
      case INT:
        copyValues<int32_t>(values, count, static_cast<int32_t*>(out) + rows_);
        break;
      case SHORT:
        copyValues<int16_t>(values, count, static_cast<int16_t*>(out) + rows_);
        break;
      case DOUBLE:
        copyValues<double>(values, count, static_cast<double*>(out) + rows_);
        break;
      case FLOAT:
        copyValues<float>(values, count, static_cast<float*>(out) + rows_);
        break;
      case DATE:
        copyValues<uint16_t>(values, count, static_cast<int32_t*>(out) + rows_);
        break;
      case BOOL:
        appendBits(values, count, static_cast<uint8_t*>(out));
        break;
      case STRING:
        count = appendTexts(values, count);
        break;
    }
    rows_ += count;
    return count;
  }

  // Drops the rows from `rows` on.
  void truncate(size_t rows) {
    if (rows >= rows_) return;
    rows_ = rows;
    if (isText()) textSize_ = static_cast<size_t>(static_cast<int32_t*>(data_->memory[1])[rows]);
  }

  // Hands the column's memory to `out` as an array of rows() values.
  void finish(ArrowArray* out) noexcept {
    data_->buffers[1] = data_->memory[1];
    data_->buffers[2] = data_->memory[2];
    out->length = static_cast<int64_t>(rows_);
    out->null_count = 0;
    out->offset = 0;
    out->n_buffers = isText() ? 3 : 2;
    out->n_children = 0;
    out->buffers = data_->buffers;
    out->children = nullptr;
    out->dictionary = nullptr;
    out->release = &releaseColumn;
    out->private_data = data_.release();
  }

 private:
  void appendBits(const void* const* values, size_t count, uint8_t* bits) {
    for (size_t i = 0; i < count; ++i) {
      const size_t bit = rows_ + i;
      const auto mask = static_cast<uint8_t>(1u << (bit & 7));
      if (load<uint8_t>(values[i]) != 0) {
        bits[bit >> 3] |= mask;
      } else {
        bits[bit >> 3] &= static_cast<uint8_t>(~mask);
      }
    }
  }

  size_t appendTexts(const void* const* values, size_t count) {
    auto* const offsets = static_cast<int32_t*>(data_->memory[1]) + rows_;
    for (size_t i = 0; i < count; ++i) {
      const auto* text = static_cast<const char*>(values[i]);
      // Runs of one category value read one stored text: measured once.
      if (text != lastText_) {
        lastText_ = text;
        lastLength_ = NodeConfig::textBytes(text) - 1;
        lastValid_ = utf8::valid(text, lastLength_);
        lastSize_ = lastValid_ ? lastLength_ : utf8::repairedSize(text, lastLength_);
      }
      if (static_cast<int64_t>(textSize_ + lastSize_) > textLimit_) {
        if (rows_ + i == 0) {
          throw DatabaseException("A text of column %s is too long for an Arrow string",
                                  column_.name.c_str());
        }
        return i;
      }
      reserve(lastSize_);
      char* const at = static_cast<char*>(data_->memory[2]) + textSize_;
      if (lastValid_) {
        std::memcpy(at, text, lastLength_);
      } else {
        utf8::repair(text, lastLength_, at);
      }
      textSize_ += lastSize_;
      offsets[i + 1] = static_cast<int32_t>(textSize_);
    }
    return count;
  }

  void reserve(size_t more) {
    if (textSize_ + more <= textCapacity_) return;
    const size_t capacity = std::max(textCapacity_ * 2, textSize_ + more);
    void* grown = std::realloc(data_->memory[2], capacity);
    if (grown == nullptr) throw std::bad_alloc();
    data_->memory[2] = grown;
    textCapacity_ = capacity;
  }

  const Column& column_;
  std::unique_ptr<ColumnData> data_;
  size_t rows_ = 0;
  // Text columns: bytes used and allocated, the limit, and the last stored
  // text met with its length, whether it is valid UTF-8 and its size once
  // repaired.
  size_t textSize_ = 0;
  size_t textCapacity_ = 0;
  const int64_t textLimit_;
  const char* lastText_ = nullptr;
  size_t lastLength_ = 0;
  bool lastValid_ = true;
  size_t lastSize_ = 0;
};

// ---------------------------------------------------------------- stream

struct StreamState {
  StreamState(const QuerySet& cursor, std::vector<Column> columns, Limits limits)
      : cursor(cursor), columns(std::move(columns)), limits(limits) {}

  const QuerySet cursor;  // a copy sharing the result
  const std::vector<Column> columns;
  const Limits limits;
  uint32_t next = 0;      // result position of the next batch's first row
  int failure = 0;        // errno of the failure that ended the stream
  std::string error;      // its message
};

void endOfStream(ArrowArray* out) {
  std::memset(out, 0, sizeof *out);
  out->release = nullptr;
}

// Fills `out` with the batch that starts at state.next and moves next past it.
void fillBatch(StreamState& state, ArrowArray* out) {
  const uint32_t first = state.next;
  const uint32_t capacity = std::min(state.cursor.getNumberOfRows() - first, state.limits.batchRows);
  const size_t columns = state.columns.size();
  std::vector<ColumnBuilder> builders;
  builders.reserve(columns);
  for (const Column& column : state.columns) {
    builders.emplace_back(column, capacity, state.limits.batchTextBytes);
  }
  std::vector<const void*> values(columns * kChunkRows);
  const uint32_t end = first + capacity;
  uint32_t position = first;
  while (position < end) {
    const uint32_t count = std::min(end - position, kChunkRows);
    state.cursor.readColumns(position, position + count, values.data());
    // Texts first: they may take fewer rows than the chunk, and then every
    // column takes as many as the shortest.
    const size_t before = position - first;
    size_t taken = count;
    for (size_t k = 0; k < columns; ++k) {
      if (builders[k].isText()) taken = std::min(taken, builders[k].append(values.data() + k * count, count));
    }
    for (size_t k = 0; k < columns; ++k) {
      if (builders[k].isText()) {
        builders[k].truncate(before + taken);
      } else {
        builders[k].append(values.data() + k * count, taken);
      }
    }
    position += static_cast<uint32_t>(taken);
    if (taken < count) break;
  }
  auto data = std::make_unique<BatchData>();
  data->columns.resize(columns);
  data->pointers.resize(columns);
  // Nothing below throws.
  for (size_t k = 0; k < columns; ++k) {
    builders[k].finish(&data->columns[k]);
    data->pointers[k] = &data->columns[k];
  }
  out->length = position - first;
  out->null_count = 0;
  out->offset = 0;
  out->n_buffers = 1;
  out->n_children = static_cast<int64_t>(columns);
  out->buffers = data->buffers;
  out->children = data->pointers.data();
  out->dictionary = nullptr;
  out->release = &releaseBatch;
  out->private_data = data.release();
  state.next = position;
}

StreamState& stateOf(ArrowArrayStream* stream) { return *static_cast<StreamState*>(stream->private_data); }

// Runs `action`, turning what it throws into an errno and a message kept
// by the stream.
template <typename Action>
int guarded(StreamState& state, Action&& action) noexcept {
  try {
    action();
    state.error.clear();
    return 0;
  } catch (const DatabaseException& e) {
    state.error = e.what();
    return EINVAL;
  } catch (const std::bad_alloc&) {
    state.error = "Out of memory while exporting a query result";
    return ENOMEM;
  } catch (const std::exception& e) {
    state.error = e.what();
    return EIO;
  }
}

int getSchema(ArrowArrayStream* stream, ArrowSchema* out) {
  StreamState& state = stateOf(stream);
  return guarded(state, [&] { fillSchema(state.columns, out); });
}

int getNext(ArrowArrayStream* stream, ArrowArray* out) {
  StreamState& state = stateOf(stream);
  if (state.failure != 0) return state.failure;
  const int failure = guarded(state, [&] {
    const std::lock_guard<std::mutex> lock(readLock());
    const uint32_t rows = state.cursor.getNumberOfRows();
    if (state.next >= rows) {
      // Also the end is told only while the tables are unchanged: a read of
      // no rows checks them.
      if (!state.cursor.empty()) state.cursor.readColumns(0, 0, nullptr);
      endOfStream(out);
      return;
    }
    fillBatch(state, out);
  });
  state.failure = failure;
  return failure;
}

const char* getLastError(ArrowArrayStream* stream) {
  const StreamState& state = stateOf(stream);
  return state.error.empty() ? nullptr : state.error.c_str();
}

void releaseStream(ArrowArrayStream* stream) {
  delete static_cast<StreamState*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

void exportSchema(const QuerySet& cursor, ArrowSchema* out) { fillSchema(columnsOf(cursor), out); }

void exportStream(const QuerySet& cursor, ArrowArrayStream* out, Limits limits) {
  if (limits.batchRows == 0) limits.batchRows = 1;
  auto state = std::make_unique<StreamState>(cursor, columnsOf(cursor), limits);
  out->get_schema = &getSchema;
  out->get_next = &getNext;
  out->get_last_error = &getLastError;
  out->release = &releaseStream;
  out->private_data = state.release();
}

}  // namespace arrow_export
