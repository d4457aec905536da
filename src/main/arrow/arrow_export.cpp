// A result as Arrow C structures: the schema, and a stream of batches whose
// columns are copied into buffers it owns (large ones mapped, reused).

#include "main/arrow/arrow_export.h"

#include <algorithm>
#include <sys/mman.h>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalogue/database_lock.h"
#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "main/arrow/utf8.h"
#include "storage/node_config.h"
#include "storage/text_bytes.h"
#include "storage/unaligned.h"

namespace arrow_export {

namespace {

// Rows of a text column's first room for texts, sixteen bytes each.
constexpr size_t kFirstTextRows = 1024;

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

// Makes the names unique, as data frame libraries need them: every repeat
// of a name after its first gets the first suffix "_1", "_2", ... that
// gives a name no other column has or gets.
void makeUnique(std::vector<Column>& columns) {
  std::unordered_set<std::string> taken;
  for (const Column& column : columns) taken.insert(column.name);
  std::unordered_set<std::string> seen;
  std::unordered_map<std::string, size_t> nextSuffix;
  for (Column& column : columns) {
    if (seen.insert(column.name).second) continue;
    size_t& suffix = nextSuffix[column.name];
    std::string unique;
    do {
      unique = column.name + "_" + std::to_string(++suffix);
    } while (!taken.insert(unique).second);
    column.name = std::move(unique);
  }
}

// The selected columns' names, made unique, and types; none for a cursor
// without a result. Reading the types checks that the tables are unchanged.
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
  makeUnique(columns);
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

constexpr size_t kMapBytes = size_t{1} << 20;  // blocks from this size on are mapped
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kKeptBytes = size_t{128} << 20;  // most bytes of freed mapped blocks kept

// Mapped blocks that batches released, kept for the next batches: fresh
// memory costs a page fault and the zeroing of every page on first touch,
// which for a large batch takes longer than filling it. At most kKeptBytes
// are kept; the pages of a kept block are marked as free to the kernel
// (MADV_FREE), which takes them back when it needs memory and otherwise
// leaves them in place.
class BlockCache {
 public:
  // A kept block of at least `bytes` bytes (the smallest), or nullptr.
  void* take(size_t bytes, size_t& mapped) {
    const std::lock_guard<std::mutex> guard(lock_);
    size_t best = blocks_.size();
    for (size_t i = 0; i < blocks_.size(); ++i) {
      if (blocks_[i].bytes >= bytes && (best == blocks_.size() || blocks_[i].bytes < blocks_[best].bytes)) best = i;
    }
    if (best == blocks_.size()) return nullptr;
    void* const block = blocks_[best].address;
    mapped = blocks_[best].bytes;
    kept_ -= mapped;
    blocks_[best] = blocks_.back();
    blocks_.pop_back();
    return block;
  }

  // Keeps the block when there is room, else unmaps it.
  void give(void* block, size_t mapped) noexcept {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (kept_ + mapped <= kKeptBytes && blocks_.size() < blocks_.capacity()) {
#ifdef MADV_FREE
        madvise(block, mapped, MADV_FREE);
#endif
        blocks_.push_back(Kept{block, mapped});
        kept_ += mapped;
        return;
      }
    }
    munmap(block, mapped);
  }

  static BlockCache& instance() {
    // Never destroyed: batches may be released after static destruction.
    static BlockCache* const cache = new BlockCache();
    return *cache;
  }

 private:
  BlockCache() { blocks_.reserve(64); }

  struct Kept {
    void* address;
    size_t bytes;
  };
  std::mutex lock_;
  std::vector<Kept> blocks_;
  size_t kept_ = 0;
};

// A buffer of a column: small ones from malloc, large ones mapped on their
// own (from the BlockCache when it has one) and offered to the kernel as
// huge pages.
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { free(); }

  void* data() const { return data_; }

  // A block of at least `bytes` bytes, replacing this one; the old one's
  // first `keep` bytes are carried over.
  void resize(size_t bytes, size_t keep = 0) {
    bytes = std::max<size_t>(bytes, 1);
    void* grown = nullptr;
    size_t mapped = 0;
    if (bytes >= kMapBytes) {
      grown = BlockCache::instance().take(bytes, mapped);
      if (grown == nullptr) {
        mapped = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        grown = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (grown == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(grown, mapped, MADV_HUGEPAGE);  // a hint: without huge pages, plain ones
#endif
      }
    } else {
      grown = std::malloc(bytes);
      if (grown == nullptr) throw std::bad_alloc();
    }
    if (keep > 0) std::memcpy(grown, data_, keep);
    free();
    data_ = grown;
    mapped_ = mapped;
  }

  // Sets the first `bytes` bytes to zero.
  void zero(size_t bytes) { std::memset(data_, 0, bytes); }

 private:
  void free() noexcept {
    if (data_ == nullptr) return;
    if (mapped_ > 0) {
      BlockCache::instance().give(data_, mapped_);
    } else {
      std::free(data_);
    }
    data_ = nullptr;
  }

  void* data_ = nullptr;
  size_t mapped_ = 0;  // bytes mapped; 0 for a block from malloc
};

// What a column array owns: its value (or offset) buffer and, for text, its
// byte buffer. buffers[0], the validity bitmap, is absent: there are no
// nulls.
struct ColumnData {
  Block blocks[3];
  const void* buffers[3] = {nullptr, nullptr, nullptr};
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

// Writes `value` to `at` past the caches where the processor can: a batch
// is written once and read much later, so a store that first reads the
// line into the cache (as ordinary stores do) doubles the memory traffic.
// storesDone() orders these stores before the batch is handed out.
template <typename Out>
inline void streamStore(Out* at, Out value) {
#if defined(__SSE2__)
  if constexpr (sizeof(Out) == 8) {
    long long bits;
    std::memcpy(&bits, &value, sizeof bits);
    _mm_stream_si64(reinterpret_cast<long long*>(at), bits);
    return;
  } else if constexpr (sizeof(Out) == 4) {
    int bits;
    std::memcpy(&bits, &value, sizeof bits);
    _mm_stream_si32(reinterpret_cast<int*>(at), bits);
    return;
  }
#endif
  *at = value;
}

inline void storesDone() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// The values of a ValueRun with `same` set: one value at every position.
struct SameValue {
  const void* value;
  const void* operator[](size_t) const { return value; }
};

// The values of a ValueRun without `same`: each at its base plus the offset.
struct BasedValues {
  const void* const* bases;
  size_t offset;
  const void* operator[](size_t i) const { return static_cast<const char*>(bases[i]) + offset; }
};

// Stored values of type Stored, copied to Out.
template <typename Stored, typename Out, typename Values>
void copyValues(const Values& values, size_t count, Out* out) {
  for (size_t i = 0; i < count; ++i) streamStore(out + i, static_cast<Out>(unaligned::load<Stored>(values[i])));
}

// Builds one column of a batch from runs of stored values.
class ColumnBuilder {
 public:
  // `capacity`: the most rows the batch can have.
  ColumnBuilder(const Column& column, size_t capacity, int64_t textLimit)
      : column_(column), data_(std::make_unique<ColumnData>()), capacity_(capacity), textLimit_(textLimit) {
    Block& values = data_->blocks[1];
    switch (column.type) {
      case LONG:
      case DOUBLE:
        values.resize(capacity * 8);
        break;
      case INT:
      case FLOAT:
      case DATE:
        values.resize(capacity * 4);
        break;
      case SHORT:
        values.resize(capacity * 2);
        break;
      case BOOL:
        values.resize((capacity + 7) / 8);
        values.zero((capacity + 7) / 8);
        break;
      case STRING:
        values.resize((capacity + 1) * sizeof(int32_t));
        static_cast<int32_t*>(values.data())[0] = 0;
        textCapacity_ = std::min(capacity, kFirstTextRows) * 16;
        data_->blocks[2].resize(textCapacity_);
        break;
      default:
        throw DatabaseException("Unknown data type provided");
    }
  }

  bool isText() const { return column_.type == STRING; }

  // Appends the values `run` describes at its first `count` positions: all
  // of them, except that a text column stops before the text that would
  // take its bytes past the limit. Returns how many it appended.
  size_t append(const ValueRun& run, size_t count) {
    if (run.same != nullptr) return appendValues(SameValue{run.same}, count);
    return appendValues(BasedValues{run.bases, run.offset}, count);
  }

  // Drops the rows from `rows` on; the batch ends there, nothing is
  // appended afterwards.
  void truncate(size_t rows) {
    if (rows >= rows_) return;
    rows_ = rows;
    if (isText()) textSize_ = static_cast<size_t>(static_cast<int32_t*>(data_->blocks[1].data())[rows]);
  }

  // Hands the column's memory to `out` as an array of rows() values.
  void finish(ArrowArray* out) noexcept {
    data_->buffers[1] = data_->blocks[1].data();
    data_->buffers[2] = data_->blocks[2].data();
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
  template <typename Values>
  size_t appendValues(const Values& values, size_t count) {
    void* const out = data_->blocks[1].data();
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

  template <typename Values>
  void appendBits(const Values& values, size_t count, uint8_t* bits) {
    // The bitmap starts zeroed and is only ever appended to.
    size_t i = 0;
    size_t bit = rows_;
    for (; i < count && (bit & 7) != 0; ++i, ++bit) {
      bits[bit >> 3] |= static_cast<uint8_t>((unaligned::load<uint8_t>(values[i]) != 0) << (bit & 7));
    }
    for (; i + 8 <= count; i += 8, bit += 8) {
      unsigned byte = 0;
      for (unsigned k = 0; k < 8; ++k) byte |= static_cast<unsigned>(unaligned::load<uint8_t>(values[i + k]) != 0) << k;
      bits[bit >> 3] = static_cast<uint8_t>(byte);
    }
    for (; i < count; ++i, ++bit) {
      bits[bit >> 3] |= static_cast<uint8_t>((unaligned::load<uint8_t>(values[i]) != 0) << (bit & 7));
    }
  }

  // The length of the stored text at `text` and its size once repaired
  // (the same when it is valid UTF-8, as every ASCII text is).
  static void measure(const char* text, uint32_t& length, uint32_t& size, bool& valid) {
    bool ascii;
    const size_t bytes = text_bytes::terminatedLength(text, ascii);
    valid = ascii || utf8::valid(text, bytes);
    const size_t repaired = valid ? bytes : utf8::repairedSize(text, bytes);
    if (repaired > UINT32_MAX) {
      throw DatabaseException("A text of %u bytes is too long for an Arrow string", UINT32_MAX);
    }
    length = static_cast<uint32_t>(bytes);
    size = static_cast<uint32_t>(repaired);
  }

  // Appends texts in one pass. A text equal to the one before (a
  // categorised column repeats its value for every row of a node) is not
  // measured again. The state is kept in locals while the loop runs: its
  // byte stores could otherwise change the members, for all the compiler
  // knows, and force them to be read again for every text.
  template <typename Values>
  size_t appendTexts(const Values& values, size_t count) {
    if constexpr (std::is_same_v<Values, SameValue>) return appendSameText(values.value, count);
    const char* last = lastText_;
    uint32_t length = lastLength_;
    uint32_t size = lastSize_;
    bool valid = lastValid_;
    size_t at = textSize_;
    const auto limit = static_cast<size_t>(textLimit_);
    char* bytes = static_cast<char*>(data_->blocks[2].data());
    int32_t* const offsets = static_cast<int32_t*>(data_->blocks[1].data()) + rows_ + 1;
    size_t i = 0;
    for (; i < count; ++i) {
      const auto* text = static_cast<const char*>(values[i]);
      if (text != last) {
        last = text;
        measure(text, length, size, valid);
      }
      if (at + size > limit) {
        if (rows_ + i == 0) refuseLongText();
        break;
      }
      if (at + size > textCapacity_) bytes = grow(at, size, rows_ + i);
      if (valid) {
        text_bytes::copy(bytes + at, text, length);
      } else {
        utf8::repair(text, length, bytes + at);
      }
      at += size;
      offsets[i] = static_cast<int32_t>(at);
    }
    lastText_ = last;
    lastLength_ = length;
    lastSize_ = size;
    lastValid_ = valid;
    textSize_ = at;
    return i;
  }

  // appendTexts for `count` copies of one text: measured once, and a short
  // valid one written as one sixteen-byte store a row, each store's tail
  // overwritten by the next.
  size_t appendSameText(const void* value, size_t count) {
    const auto* text = static_cast<const char*>(value);
    if (text != lastText_) {
      lastText_ = text;
      measure(text, lastLength_, lastSize_, lastValid_);
    }
    const size_t room = static_cast<size_t>(textLimit_) - textSize_;
    const size_t fit = count * lastSize_ <= room ? count : room / lastSize_;
    if (fit == 0 && rows_ == 0) refuseLongText();
    constexpr size_t kHead = 16;
    // Locals, as in appendTexts: the byte stores could change members.
    const size_t length = lastLength_;
    const size_t size = lastSize_;
    const bool valid = lastValid_;
    size_t at = textSize_;
    char* const bytes = at + fit * size + kHead > textCapacity_ ? grow(at, fit * size + kHead, rows_)
                                                              : static_cast<char*>(data_->blocks[2].data());
    int32_t* const offsets = static_cast<int32_t*>(data_->blocks[1].data()) + rows_ + 1;
    if (valid && length <= kHead) {
      char head[kHead] = {};
      std::memcpy(head, text, length);
      for (size_t i = 0; i < fit; ++i, at += size) {
        std::memcpy(bytes + at, head, kHead);
        offsets[i] = static_cast<int32_t>(at + size);
      }
    } else {
      for (size_t i = 0; i < fit; ++i, at += size) {
        if (valid) {
          std::memcpy(bytes + at, text, length);
        } else {
          utf8::repair(text, length, bytes + at);
        }
        offsets[i] = static_cast<int32_t>(at + size);
      }
    }
    textSize_ = at;
    return fit;
  }

  // A batch's first text is past the limit: no batch can hold it.
  [[noreturn]] void refuseLongText() const {
    throw DatabaseException("A text of column %s is too long for an Arrow string", column_.name.c_str());
  }

  // Makes room for `more` bytes after the first `used`, once `rows` rows
  // are in, and returns the text buffer. The first growth takes the batch's
  // text size from the rows in so far, give or take: room for an eighth
  // more than that is made at once rather than grown in steps.
  char* grow(size_t used, size_t more, size_t rows) {
    size_t capacity = std::max(textCapacity_ * 2, used + more);
    if (!grown_ && rows > 0) {
      const double perRow = static_cast<double>(used) / static_cast<double>(rows);
      const double estimate = std::min(perRow * static_cast<double>(capacity_) * 1.125 + 64.0,
                                       static_cast<double>(textLimit_));
      capacity = std::max(capacity, static_cast<size_t>(estimate));
    }
    grown_ = true;
    data_->blocks[2].resize(capacity, used);
    textCapacity_ = capacity;
    return static_cast<char*>(data_->blocks[2].data());
  }

  const Column& column_;
  std::unique_ptr<ColumnData> data_;
  const size_t capacity_;  // most rows of the batch
  size_t rows_ = 0;
  // Text columns: bytes used and allocated, the limit, and the last stored
  // text met with its length, whether it is valid UTF-8 and its size once
  // repaired.
  size_t textSize_ = 0;
  size_t textCapacity_ = 0;
  const int64_t textLimit_;
  const char* lastText_ = nullptr;
  uint32_t lastLength_ = 0;
  uint32_t lastSize_ = 0;
  bool lastValid_ = true;
  bool grown_ = false;  // whether the text buffer has grown once
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
  size_t rows = 0;
  const auto take = [&](const ValueRun* runs, uint32_t count) {
    // Fixed-width values first: their loops have no branches on what they
    // read, so the rows' cache lines arrive many at a time, and the texts,
    // read next, find them there. A text column may take fewer rows than
    // the run; then every column keeps as many as the shortest.
    for (size_t k = 0; k < columns; ++k) {
      if (!builders[k].isText()) builders[k].append(runs[k], count);
    }
    size_t taken = count;
    for (size_t k = 0; k < columns; ++k) {
      if (builders[k].isText()) taken = std::min(taken, builders[k].append(runs[k], count));
    }
    if (taken < count) {
      for (ColumnBuilder& builder : builders) builder.truncate(rows + taken);
    }
    rows += taken;
    return static_cast<uint32_t>(taken);
  };
  const uint32_t position = first + state.cursor.readRuns(first, first + capacity, take);
  storesDone();
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
  } catch (const Interrupted& e) {
    state.error = e.what();
    return EINTR;
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
  // A consumer may ask with the interpreter held; it is given up while the
  // batch waits for the database and is read.
  const DatabaseLock::HostReleased released;
  const int failure = guarded(state, [&] {
    std::optional<DatabaseLock::Call> call;
    if (DatabaseLock* const lock = state.cursor.lock()) call.emplace(*lock);
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
