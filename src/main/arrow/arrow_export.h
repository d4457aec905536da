#pragma once

#include <cstdint>

#include "storage/arrow_abi.h"
#include "query/query_set.h"

// A query result handed out through the Arrow C data interface: its schema
// as an ArrowSchema, its rows as an ArrowArrayStream of record batches, in
// result order. No Arrow library is needed: the structures are filled by
// this folder's code (arrow_schema_export.h for the schema, arrow_stream.h
// for the stream, whose batches arrow_column_builder.h builds in memory from
// arrow_block_pool.h) and released through their own callbacks, as the
// interface lays down.
//
// Column types: long, int, short as int64, int32, int16 ("l", "i", "s");
// double, float as float64, float32 ("g", "f"); bool as boolean ("b"); date
// as date32 ("tdD", days since 1970-01-01); string as utf8 ("u"), with every
// ill-formed UTF-8 sequence replaced by U+FFFD as Python's getters replace
// it. Each column is a nullable field; a NULL is null in its validity
// bitmap, which a batch of a column has only when the batch holds a NULL
// there (its null count exact). The result is a struct
// ("+s") with one child per selected column, named as the column; a name
// selected again is made unique by a suffix ("k", "k_1"), so that data frame
// libraries take the columns.
//
// Nothing here touches Python: a consumer may read and release a stream on
// any thread. Each batch is read under the lock of the result's database,
// so it waits for a command or read on another thread and cannot see the
// tables change under it; a stream keeps its own position in the result.
// A database's stop request (DatabaseParser.interrupt()) ends a batch being
// read with "Interrupted" (errno EINTR).
namespace arrow_export {

struct Limits {
  // Most rows in one batch.
  uint32_t batchRows = 1u << 20;
  // Most bytes of one string column in one batch: a batch ends early rather
  // than let a utf8 column pass what its 32-bit offsets can address. A
  // single text longer than this cannot be exported.
  int64_t batchTextBytes = INT32_MAX;
};

// Fills `out` (not yet initialised) with the result's schema. A cursor
// without a result gives a struct with no fields. Throws DatabaseException
// like a row read when the tables behind the result changed, leaving `out`
// untouched.
void exportSchema(const QuerySet& cursor, ArrowSchema* out);

// Fills `out` (not yet initialised) with a stream of the result's rows. The
// stream holds a copy of the cursor, so it shares and keeps alive the
// result and its database; it does not move the cursor's current row. The
// schema is read now (throwing as exportSchema does); each batch checks the
// result again and fails with the cursor's message ("Query result is no
// longer valid: ...", errno EINVAL) once a table behind it has changed. An
// empty result gives a stream with no batches.
void exportStream(const QuerySet& cursor, ArrowArrayStream* out, Limits limits = {});

}  // namespace arrow_export
