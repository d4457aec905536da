#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/arrow_abi.h"
#include "main/arrow/arrow_export.h"
#include "main/arrow/arrow_schema_export.h"
#include "query/query_set.h"

// The state behind one ArrowArrayStream that exportStream hands out, and
// the stream protocol's calls on it: the schema, the next batch, the last
// error. It holds a copy of the cursor, so it shares and keeps alive the
// result and its database. A stream is used by one thread at a time, as the
// interface lays down; the batches it hands out are independent of it and
// may outlive it.
namespace arrow_export {

class ArrowStream {
 public:
  // Reads the result's columns now; throws as columnsOf does.
  ArrowStream(const QuerySet& cursor, Limits limits);

  // The protocol's calls: 0 on success, else an errno with the message
  // kept for lastError(). Once getNext has failed it fails again with the
  // same errno without reading.
  int getSchema(ArrowSchema* out);
  int getNext(ArrowArray* out);
  // The message of the last call's failure; nullptr when it succeeded.
  // Valid until the next call.
  const char* lastError() const { return error_.empty() ? nullptr : error_.c_str(); }

 private:
  // Runs `action`, turning what it throws into an errno and the message.
  template <typename Action>
  int guarded(Action&& action) noexcept;
  // Fills `out` with the batch that starts at next_ and moves next_ past it.
  void fillBatch(ArrowArray* out);

  const QuerySet cursor_;  // a copy sharing the result
  const std::vector<Column> columns_;
  const Limits limits_;
  uint32_t next_ = 0;   // result position of the next batch's first row
  int failure_ = 0;     // errno of the failure that ended the stream
  std::string error_;   // its message
};

}  // namespace arrow_export
