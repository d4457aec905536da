// The Arrow export driven directly through the C data and C stream
// interfaces, as a consumer would: schemas, batches and streams read,
// moved and released in every order the interface allows. Under
// `make test SANITIZE=1` these run with LeakSanitizer on, which checks that
// releasing what was handed out frees everything (the Python tests cannot:
// the interpreter runs with leak detection off).

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../test_support.h"
#include "databaseparser/database_parser.h"
#include "main/arrow/arrow_export.h"
#include "main/arrow/utf8.h"

namespace {

using test_support::ScratchDir;

// Every column type, in the CSV order of kAllTypesCsv.
constexpr const char* kAllTypes =
    "id int, name string, ratio double, small short, flag bool, day date, big long, weight float";
constexpr const char* kAllTypesCsv =
    "id,name,ratio,small,flag,day,big,weight\n"
    "1,alpha,2.5,-5,true,2024-02-29,1099511627779,0.5\n"
    "2,b\xC3\xA9ta,-2.9,32767,0,1970-01-01,-9223372036854775808,-1.25\n"
    "3,,1e300,-32768,1,2149-06-06,9223372036854775807,3\n"
    "4,bad\xFF\xE2\x82,0.1,0,False,2000-03-01,0,0\n";

// A database with table t of every type; `levels` makes name and flag tree
// levels, so their values come from category maps.
std::unique_ptr<DatabaseParser> allTypes(const ScratchDir& dir, bool levels = false) {
  auto db = std::make_unique<DatabaseParser>();
  const std::string definition =
      levels ? "id int, name string cat 1, ratio double, small short, flag bool cat 2, day date, big long, weight float"
             : kAllTypes;
  db->executeCommand(("create table t (" + definition + ")").c_str());
  db->executeCommand(("load t from '" + dir.write("t.csv", kAllTypesCsv) + "'").c_str());
  return db;
}

// Owns an ArrowSchema, ArrowArray or ArrowArrayStream and releases it at
// the end unless it was released already.
template <typename Structure>
struct Owned {
  Structure value{};
  Owned() { value.release = nullptr; }
  ~Owned() {
    if (value.release != nullptr) value.release(&value);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Structure* operator->() { return &value; }
  Structure* get() { return &value; }
};

// Moves a structure out of `from`, as the interface describes: a bitwise
// copy, after which the source is marked released.
template <typename Structure>
void moveOut(Structure* from, Structure* to) {
  std::memcpy(to, from, sizeof *to);
  from->release = nullptr;
}

// Reads every batch of `stream`; fails the test on an error.
std::vector<std::unique_ptr<Owned<ArrowArray>>> readAll(ArrowArrayStream* stream) {
  std::vector<std::unique_ptr<Owned<ArrowArray>>> batches;
  while (true) {
    auto batch = std::make_unique<Owned<ArrowArray>>();
    const int status = stream->get_next(stream, batch->get());
    EXPECT_EQ(0, status) << (stream->get_last_error(stream) ? stream->get_last_error(stream) : "");
    if (status != 0 || batch->value.release == nullptr) break;
    batches.push_back(std::move(batch));
  }
  return batches;
}

template <typename T>
T valueAt(const ArrowArray& column, int64_t row) {
  return static_cast<const T*>(column.buffers[1])[column.offset + row];
}

bool boolAt(const ArrowArray& column, int64_t row) {
  const int64_t bit = column.offset + row;
  return (static_cast<const uint8_t*>(column.buffers[1])[bit / 8] >> (bit % 8)) & 1;
}

std::string textAt(const ArrowArray& column, int64_t row) {
  const auto* offsets = static_cast<const int32_t*>(column.buffers[1]);
  const auto* bytes = static_cast<const char*>(column.buffers[2]);
  return std::string(bytes + offsets[column.offset + row], bytes + offsets[column.offset + row + 1]);
}

// Every text of column `col` over all batches.
std::vector<std::string> texts(const std::vector<std::unique_ptr<Owned<ArrowArray>>>& batches, int col) {
  std::vector<std::string> out;
  for (const auto& batch : batches) {
    const ArrowArray& column = *batch->value.children[col];
    for (int64_t row = 0; row < column.length; ++row) out.push_back(textAt(column, row));
  }
  return out;
}

}  // namespace

TEST(ArrowExportTest, SchemaNamesEveryColumnWithItsArrowType) {
  ScratchDir dir;
  auto db = allTypes(dir);
  QuerySet cursor = db->executeSelect("select * from t");
  Owned<ArrowSchema> schema;
  arrow_export::exportSchema(cursor, schema.get());
  EXPECT_STREQ("+s", schema->format);
  ASSERT_EQ(8, schema->n_children);
  const char* names[] = {"id", "name", "ratio", "small", "flag", "day", "big", "weight"};
  const char* formats[] = {"i", "u", "g", "s", "b", "tdD", "l", "f"};
  for (int k = 0; k < 8; ++k) {
    EXPECT_STREQ(names[k], schema->children[k]->name);
    EXPECT_STREQ(formats[k], schema->children[k]->format);
    EXPECT_EQ(ARROW_FLAG_NULLABLE, schema->children[k]->flags);
    EXPECT_EQ(0, schema->children[k]->n_children);
    EXPECT_NE(nullptr, schema->children[k]->release);
  }
  // A field moved out lives on after its parent is released.
  Owned<ArrowSchema> field;
  moveOut(schema->children[2], field.get());
  schema->release(schema.get());
  EXPECT_EQ(nullptr, schema->release);
  EXPECT_STREQ("ratio", field->name);
}

TEST(ArrowExportTest, EveryTypeRoundTripsWithTextsRepairedAsPythonDoes) {
  ScratchDir dir;
  for (const bool levels : {false, true}) {
    auto db = allTypes(dir, levels);
    QuerySet cursor = db->executeSelect("select * from t order by id");
    Owned<ArrowArrayStream> stream;
    arrow_export::exportStream(cursor, stream.get());
    Owned<ArrowSchema> schema;
    ASSERT_EQ(0, stream->get_schema(stream.get(), schema.get()));
    EXPECT_EQ(8, schema->n_children);
    auto batches = readAll(stream.get());
    ASSERT_EQ(1u, batches.size());
    const ArrowArray& batch = batches[0]->value;
    ASSERT_EQ(4, batch.length);
    ASSERT_EQ(8, batch.n_children);
    EXPECT_EQ(1, batch.n_buffers);
    EXPECT_EQ(nullptr, batch.buffers[0]);
    for (int k = 0; k < 8; ++k) {
      EXPECT_EQ(4, batch.children[k]->length);
      EXPECT_EQ(0, batch.children[k]->null_count);
      EXPECT_EQ(nullptr, batch.children[k]->buffers[0]);
    }
    const ArrowArray& id = *batch.children[0];
    const ArrowArray& ratio = *batch.children[2];
    const ArrowArray& small = *batch.children[3];
    const ArrowArray& flag = *batch.children[4];
    const ArrowArray& day = *batch.children[5];
    const ArrowArray& big = *batch.children[6];
    const ArrowArray& weight = *batch.children[7];
    EXPECT_EQ((std::vector<std::string>{"alpha", "b\xC3\xA9ta", "", "bad\xEF\xBF\xBD\xEF\xBF\xBD"}), texts(batches, 1));
    const int32_t ids[] = {1, 2, 3, 4};
    const double ratios[] = {2.5, -2.9, 1e300, 0.1};
    const int16_t smalls[] = {-5, 32767, -32768, 0};
    const bool flags[] = {true, false, true, false};
    // 2024-02-29, 1970-01-01, 2149-06-06 (the last day a date can hold), 2000-03-01.
    const int32_t days[] = {19782, 0, 65535, 11017};
    const int64_t bigs[] = {1099511627779LL, INT64_MIN, INT64_MAX, 0};
    const float weights[] = {0.5f, -1.25f, 3.0f, 0.0f};
    for (int row = 0; row < 4; ++row) {
      EXPECT_EQ(ids[row], valueAt<int32_t>(id, row));
      EXPECT_EQ(ratios[row], valueAt<double>(ratio, row));
      EXPECT_EQ(smalls[row], valueAt<int16_t>(small, row));
      EXPECT_EQ(flags[row], boolAt(flag, row)) << row;
      EXPECT_EQ(days[row], valueAt<int32_t>(day, row));
      EXPECT_EQ(bigs[row], valueAt<int64_t>(big, row));
      EXPECT_EQ(weights[row], valueAt<float>(weight, row));
    }
    db->executeCommand("drop table t");
  }
}

TEST(ArrowExportTest, BatchesFollowResultOrderAndEndEarlyForTheirTextLimit) {
  ScratchDir dir;
  std::string csv = "id,word,tag\n";
  for (int i = 0; i < 2500; ++i) {
    csv += std::to_string(i) + ",w" + std::to_string(i % 97) + "," + (i % 2 ? "odd" : "even") + "\n";
  }
  DatabaseParser db;
  db.executeCommand("create table w (id int, word string, tag string cat 1)");
  db.executeCommand(("load w from '" + dir.write("w.csv", csv) + "'").c_str());
  QuerySet cursor = db.executeSelect("select tag, id, word from w order by id desc");
  cursor.setRow(7);

  // Batches of at most 1000 rows: 1000, 1000, 500.
  arrow_export::Limits rowsLimit;
  rowsLimit.batchRows = 1000;
  Owned<ArrowArrayStream> byRows;
  arrow_export::exportStream(cursor, byRows.get(), rowsLimit);
  auto batches = readAll(byRows.get());
  ASSERT_EQ(3u, batches.size());
  EXPECT_EQ(1000, batches[0]->value.length);
  EXPECT_EQ(500, batches[2]->value.length);
  int expected = 2499;
  for (const auto& batch : batches) {
    const ArrowArray& id = *batch->value.children[1];
    for (int64_t row = 0; row < id.length; ++row, --expected) ASSERT_EQ(expected, valueAt<int32_t>(id, row));
  }
  EXPECT_EQ(-1, expected);
  const std::vector<std::string> tags = texts(batches, 0);
  EXPECT_EQ("odd", tags[0]);
  EXPECT_EQ("even", tags[2499]);
  // Reading in bulk leaves the cursor's current row alone.
  EXPECT_EQ(2492, cursor.getLong(1));

  // At most 100 text bytes a column per batch: every batch stops before
  // the text that would pass that, and no row is lost or repeated.
  arrow_export::Limits bytesLimit;
  bytesLimit.batchTextBytes = 100;
  Owned<ArrowArrayStream> byBytes;
  arrow_export::exportStream(cursor, byBytes.get(), bytesLimit);
  auto small = readAll(byBytes.get());
  EXPECT_GT(small.size(), 20u);
  std::vector<std::string> words;
  for (const auto& batch : small) {
    for (int col : {0, 2}) {
      const ArrowArray& column = *batch->value.children[col];
      EXPECT_LE(static_cast<const int32_t*>(column.buffers[1])[column.length], 100);
    }
  }
  words = texts(small, 2);
  ASSERT_EQ(2500u, words.size());
  for (int i = 0; i < 2500; ++i) ASSERT_EQ("w" + std::to_string((2499 - i) % 97), words[i]);

  // A text longer than the limit cannot be handed out.
  bytesLimit.batchTextBytes = 2;
  Owned<ArrowArrayStream> tooSmall;
  arrow_export::exportStream(cursor, tooSmall.get(), bytesLimit);
  Owned<ArrowArray> batch;
  EXPECT_EQ(EINVAL, tooSmall->get_next(tooSmall.get(), batch.get()));
  EXPECT_STREQ("A text of column tag is too long for an Arrow string", tooSmall->get_last_error(tooSmall.get()));
  EXPECT_EQ(nullptr, batch->release);
}

TEST(ArrowExportTest, ChangedTablesFailTheNextBatchWithTheCursorsMessage) {
  ScratchDir dir;
  auto db = allTypes(dir);
  for (const char* change : {"drop", "load"}) {
    QuerySet cursor = db->executeSelect("select id, name from t");
    Owned<ArrowArrayStream> stream;
    arrow_export::exportStream(cursor, stream.get());
    if (std::string(change) == "drop") {
      db->executeCommand("drop table t");
    } else {
      db->executeCommand(("load t from '" + dir.path("t.csv") + "'").c_str());
    }
    Owned<ArrowArray> batch;
    EXPECT_EQ(EINVAL, stream->get_next(stream.get(), batch.get()));
    EXPECT_STREQ("Query result is no longer valid: table t has changed", stream->get_last_error(stream.get()));
    EXPECT_EQ(nullptr, batch->release);
    // The stream stays failed; its schema is still at hand.
    EXPECT_EQ(EINVAL, stream->get_next(stream.get(), batch.get()));
    Owned<ArrowSchema> schema;
    EXPECT_EQ(0, stream->get_schema(stream.get(), schema.get()));
    EXPECT_EQ(2, schema->n_children);
    // Making a stream or schema of a changed result fails at once.
    EXPECT_EQ("Query result is no longer valid: table t has changed", test_support::messageOf([&] {
                Owned<ArrowArrayStream> late;
                arrow_export::exportStream(cursor, late.get());
              }));
    if (std::string(change) == "drop") db = allTypes(dir);
  }
}

TEST(ArrowExportTest, EmptyResultsAndCursorsGiveNoBatches) {
  ScratchDir dir;
  auto db = allTypes(dir);
  QuerySet none = db->executeSelect("select id, name from t where id > 10");
  Owned<ArrowArrayStream> stream;
  arrow_export::exportStream(none, stream.get());
  Owned<ArrowSchema> schema;
  ASSERT_EQ(0, stream->get_schema(stream.get(), schema.get()));
  EXPECT_EQ(2, schema->n_children);
  EXPECT_TRUE(readAll(stream.get()).empty());
  // An empty result also checks its tables when it tells its end.
  Owned<ArrowArrayStream> dropped;
  arrow_export::exportStream(none, dropped.get());
  db->executeCommand("drop table t");
  Owned<ArrowArray> batch;
  EXPECT_EQ(EINVAL, dropped->get_next(dropped.get(), batch.get()));

  QuerySet empty;
  Owned<ArrowArrayStream> nothing;
  arrow_export::exportStream(empty, nothing.get());
  Owned<ArrowSchema> noFields;
  ASSERT_EQ(0, nothing->get_schema(nothing.get(), noFields.get()));
  EXPECT_EQ(0, noFields->n_children);
  EXPECT_TRUE(readAll(nothing.get()).empty());
}

TEST(ArrowExportTest, WhatWasHandedOutOutlivesTheStreamTheCursorAndTheDatabase) {
  ScratchDir dir;
  Owned<ArrowArray> batch;
  Owned<ArrowArray> column;
  Owned<ArrowArrayStream> neverRead;
  {
    auto db = allTypes(dir, true);
    Owned<ArrowArrayStream> stream;
    {
      QuerySet cursor = db->executeSelect("select name, id from t order by id");
      arrow_export::exportStream(cursor, stream.get());
      arrow_export::exportStream(cursor, neverRead.get());
    }
    db.reset();  // the streams keep the result and its tables alive
    ASSERT_EQ(0, stream->get_next(stream.get(), batch.get()));
    stream->release(stream.get());
    EXPECT_EQ(nullptr, stream->release);
  }
  ASSERT_NE(nullptr, batch->release);
  // A column moved out of its batch lives on after the batch is released.
  moveOut(batch->children[0], column.get());
  batch->release(batch.get());
  EXPECT_EQ("alpha", textAt(column.value, 0));
  EXPECT_EQ(4, column->length);
  // neverRead is released unread at the end: LeakSanitizer checks that
  // this frees the result and the database it alone still holds.
}

TEST(ArrowExportTest, Utf8RepairReplacesEachMaximalIllFormedSubpart) {
  const auto repaired = [](const std::string& text) {
    std::string out(utf8::repairedSize(text.data(), text.size()), '?');
    EXPECT_EQ(out.data() + out.size(), utf8::repair(text.data(), text.size(), out.data()));
    return out;
  };
  const std::string fffd = "\xEF\xBF\xBD";
  // What Python's bytes.decode("utf-8", "replace") gives.
  EXPECT_TRUE(utf8::valid("plain ascii text, longer than eight", 35));
  EXPECT_TRUE(utf8::valid("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 9));
  EXPECT_EQ("ok" + fffd + fffd, repaired("ok\xFF\xFE"));
  EXPECT_EQ(fffd, repaired("\xE2\x82"));                        // truncated: one
  EXPECT_EQ(fffd + fffd, repaired("\xF0\x80"));                 // overlong lead: two
  EXPECT_EQ(fffd + fffd + fffd, repaired("\xED\xA0\x80"));      // surrogate: three
  EXPECT_EQ(fffd + fffd + fffd + fffd, repaired("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_EQ(fffd + "a", repaired("\xF0\x9F\x98" "a"));          // truncated 4-byte: one
  EXPECT_EQ(fffd + fffd, repaired("\xC0\xAF"));
  EXPECT_EQ("x" + fffd + "y", repaired("x\x80y"));
  EXPECT_FALSE(utf8::valid("\xF0\x9F\x98", 3));
  EXPECT_EQ(3u, utf8::repairedSize("\xF0\x9F\x98", 3));  // three bytes become three bytes
}
