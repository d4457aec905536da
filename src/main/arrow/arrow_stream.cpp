#include "main/arrow/arrow_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "catalogue/database_lock.h"
#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "main/arrow/arrow_column_builder.h"

namespace arrow_export {

namespace {

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

void endOfStream(ArrowArray* out) {
  std::memset(out, 0, sizeof *out);
  out->release = nullptr;
}

ArrowStream& streamOf(ArrowArrayStream* stream) { return *static_cast<ArrowStream*>(stream->private_data); }

int getSchema(ArrowArrayStream* stream, ArrowSchema* out) { return streamOf(stream).getSchema(out); }

int getNext(ArrowArrayStream* stream, ArrowArray* out) { return streamOf(stream).getNext(out); }

const char* getLastError(ArrowArrayStream* stream) { return streamOf(stream).lastError(); }

void releaseStream(ArrowArrayStream* stream) {
  delete static_cast<ArrowStream*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

ArrowStream::ArrowStream(const QuerySet& cursor, Limits limits)
    : cursor_(cursor), columns_(columnsOf(cursor)), limits_(limits) {}

template <typename Action>
int ArrowStream::guarded(Action&& action) noexcept {
  try {
    action();
    error_.clear();
    return 0;
  } catch (const DatabaseException& e) {
    error_ = e.what();
    return EINVAL;
  } catch (const Interrupted& e) {
    error_ = e.what();
    return EINTR;
  } catch (const std::bad_alloc&) {
    error_ = "Out of memory while exporting a query result";
    return ENOMEM;
  } catch (const std::exception& e) {
    error_ = e.what();
    return EIO;
  }
}

int ArrowStream::getSchema(ArrowSchema* out) {
  return guarded([&] { fillSchema(columns_, out); });
}

int ArrowStream::getNext(ArrowArray* out) {
  if (failure_ != 0) return failure_;
  // A consumer may ask with the interpreter held; it is given up while the
  // batch waits for the database and is read.
  const DatabaseLock::HostReleased released;
  failure_ = guarded([&] {
    std::optional<DatabaseLock::Call> call;
    DatabaseLock* const lock = cursor_.lock();
    if (lock != nullptr && !lock->readsInsideCall()) call.emplace(*lock);
    const uint32_t rows = cursor_.getNumberOfRows();
    if (next_ >= rows) {
      // Also the end is told only while the tables are unchanged: a read of
      // no rows checks them.
      if (!cursor_.empty()) cursor_.readColumns(0, 0, nullptr);
      endOfStream(out);
      return;
    }
    fillBatch(out);
  });
  return failure_;
}

void ArrowStream::fillBatch(ArrowArray* out) {
  const uint32_t first = next_;
  const uint32_t capacity = std::min(cursor_.getNumberOfRows() - first, limits_.batchRows);
  const size_t columns = columns_.size();
  std::vector<ColumnBuilder> builders;
  builders.reserve(columns);
  for (const Column& column : columns_) {
    builders.emplace_back(column, capacity, limits_.batchTextBytes);
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
  const uint32_t position = first + cursor_.readRuns(first, first + capacity, take);
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
  next_ = position;
}

void exportStream(const QuerySet& cursor, ArrowArrayStream* out, Limits limits) {
  if (limits.batchRows == 0) limits.batchRows = 1;
  auto stream = std::make_unique<ArrowStream>(cursor, limits);
  out->get_schema = &getSchema;
  out->get_next = &getNext;
  out->get_last_error = &getLastError;
  out->release = &releaseStream;
  out->private_data = stream.release();
}

}  // namespace arrow_export
