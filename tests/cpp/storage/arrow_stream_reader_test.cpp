// Streams no Python library hands over: producers that fail, hand over
// malformed batches or were released, and whether every stream is released
// exactly once whatever the load's outcome, on the calling thread, with
// blocks converted there or ahead on a thread of the reader's own.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/config.h"
#include "catalogue/database.h"
#include "storage/arrow_abi.h"
#include "../test_support.h"

namespace {

// A stream of one int32 column "a": `batches` batches of two rows each; the
// get_next call numbered `failAt` (from 1) fails, and the batch numbered
// `malformedAt` comes without its values buffer.
struct FakeStream {
  int batches = 3;
  int failAt = 0;
  int malformedAt = 0;
  int served = 0;
  int releases = 0;
  int foreignCalls = 0;  // callbacks run on a thread other than `caller`
  std::thread::id caller = std::this_thread::get_id();
  int32_t values[2] = {7, 8};
  const void* childBuffers[2] = {nullptr, values};
  const void* batchBuffers[1] = {nullptr};
  ArrowArray child{};
  ArrowArray* children[1] = {&child};
};

FakeStream& fakeOf(ArrowArrayStream* stream) { return *static_cast<FakeStream*>(stream->private_data); }

void countForeign(FakeStream& fake) {
  if (std::this_thread::get_id() != fake.caller) ++fake.foreignCalls;
}

void releaseSchema(ArrowSchema* schema) { schema->release = nullptr; }
void releaseArray(ArrowArray* array) {
  countForeign(*static_cast<FakeStream*>(array->private_data));
  array->release = nullptr;
}

int getSchema(ArrowArrayStream*, ArrowSchema* out) {
  static ArrowSchema field{"i", "a", nullptr, 2, 0, nullptr, nullptr, &releaseSchema, nullptr};
  static ArrowSchema* fields[1] = {&field};
  *out = ArrowSchema{"+s", "", nullptr, 0, 1, fields, nullptr, &releaseSchema, nullptr};
  return 0;
}

int getNext(ArrowArrayStream* stream, ArrowArray* out) {
  FakeStream& fake = fakeOf(stream);
  countForeign(fake);
  const int number = ++fake.served;
  if (number == fake.failAt) return EIO;
  if (number > fake.batches) {
    out->release = nullptr;
    return 0;
  }
  fake.child = ArrowArray{2, 0, 0, number == fake.malformedAt ? 1 : 2, 0, fake.childBuffers, nullptr, nullptr,
                          &releaseArray, &fake};
  *out = ArrowArray{2, 0, 0, 1, 1, fake.batchBuffers, fake.children, nullptr, &releaseArray, &fake};
  return 0;
}

const char* lastError(ArrowArrayStream*) { return "the producer broke"; }

void releaseStream(ArrowArrayStream* stream) {
  countForeign(fakeOf(stream));
  ++fakeOf(stream).releases;
  stream->release = nullptr;
}

ArrowArrayStream streamOf(FakeStream& fake) { return {&getSchema, &getNext, &lastError, &releaseStream, &fake}; }

struct StreamCase {
  const char* name;
  const char* table;  // the table loaded into
  int failAt;
  int malformedAt;
  bool releasedBefore;
  const char* message;  // "no exception" for a load that succeeds
  int rows;             // rows in the table afterwards
};

class ArrowStreamReaderTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(ArrowStreamReaderTest, LoadsEveryRowOrNoneAndReleasesTheStreamOnce) {
  const StreamCase& c = GetParam();
  const uint16_t threads = CONFIG_THREADS;
  for (const uint16_t loadThreads : {1, 4}) {
    SCOPED_TRACE(loadThreads);
    Database database;
    CONFIG_THREADS = loadThreads;  // after the database has read its settings
    database.tableInit("t", {{"a", NO_CATEGORY, INT}});
    FakeStream fake;
    fake.failAt = c.failAt;
    fake.malformedAt = c.malformedAt;
    ArrowArrayStream stream = streamOf(fake);
    if (c.releasedBefore) stream.release = nullptr;
    EXPECT_EQ(test_support::messageOf([&] { database.loadStream(c.table, stream); }), c.message);
    EXPECT_EQ(stream.release, nullptr);
    EXPECT_EQ(fake.releases, c.releasedBefore ? 0 : 1);
    EXPECT_EQ(fake.foreignCalls, 0);
    EXPECT_EQ(database.getTreeTable(0).numRows, static_cast<unsigned>(c.rows));
  }
  CONFIG_THREADS = threads;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ArrowStreamReaderTest,
    ::testing::Values(
        StreamCase{"whole", "t", 0, 0, false, "no exception", 6},
        StreamCase{"third_batch_fails", "t", 3, 0, false,
                   "Reading the Arrow stream failed after 4 rows: the producer broke", 0},
        StreamCase{"malformed_batch", "t", 0, 2, false,
                   "The Arrow stream handed over a malformed batch after 2 rows", 0},
        StreamCase{"unknown_table", "u", 0, 0, false, "Table u is not defined", 0},
        StreamCase{"released_before", "t", 0, 0, true, "The Arrow stream was released before it was read", 0}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

}  // namespace
