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

  // At most 100 text bytes a column per batch: every batch stops before
  // the text that would pass that, and no row is lost or repeated. Read in
  // stored order, every row of a node has the same tag, so batches also
  // end inside such a run of one text.
  arrow_export::Limits bytesLimit;
  bytesLimit.batchTextBytes = 100;
  QuerySet byNode = db.executeSelect("select tag, id, word from w");
  for (QuerySet* read : {&cursor, &byNode}) {
    Owned<ArrowArrayStream> byBytes;
    arrow_export::exportStream(*read, byBytes.get(), bytesLimit);
    auto small = readAll(byBytes.get());
    EXPECT_GT(small.size(), 20u);
    for (const auto& batch : small) {
      for (int col : {0, 2}) {
        const ArrowArray& column = *batch->value.children[col];
        EXPECT_LE(static_cast<const int32_t*>(column.buffers[1])[column.length], 100);
      }
    }
    const std::vector<std::string> tagTexts = texts(small, 0);
    const std::vector<std::string> words = texts(small, 2);
    std::vector<int32_t> ids;
    for (const auto& batch : small) {
      const ArrowArray& id = *batch->value.children[1];
      EXPECT_EQ(batch->value.length, id.length);
      for (int64_t row = 0; row < id.length; ++row) ids.push_back(valueAt<int32_t>(id, row));
    }
    ASSERT_EQ(2500u, words.size());
    ASSERT_EQ(2500u, ids.size());
    for (uint32_t i = 0; i < 2500; ++i) {
      read->setRow(i);
      ASSERT_EQ(read->getString(0), tagTexts[i]) << i;
      ASSERT_EQ(read->getInt(1), ids[i]) << i;
      ASSERT_EQ(read->getString(2), words[i]) << i;
    }
  }

  // A text longer than the limit cannot be handed out.
  bytesLimit.batchTextBytes = 2;
  Owned<ArrowArrayStream> tooSmall;
  arrow_export::exportStream(cursor, tooSmall.get(), bytesLimit);
  Owned<ArrowArray> batch;
  EXPECT_EQ(EINVAL, tooSmall->get_next(tooSmall.get(), batch.get()));
  EXPECT_STREQ("A text of column tag is too long for an Arrow string", tooSmall->get_last_error(tooSmall.get()));
  EXPECT_EQ(nullptr, batch->release);
}

// Python checks the message of a stream taken before a drop or a load;
// here the failed stream stays failed and keeps its schema, for a result
// with rows and for an empty one, which checks its tables when it tells its
// end.
TEST(ArrowExportTest, AStreamOfAChangedTableStaysFailedAndKeepsItsSchema) {
  ScratchDir dir;
  for (const char* query : {"select id, name from t", "select id, name from t where id > 10"}) {
    SCOPED_TRACE(query);
    auto db = allTypes(dir);
    QuerySet cursor = db->executeSelect(query);
    Owned<ArrowArrayStream> stream;
    arrow_export::exportStream(cursor, stream.get());
    db->executeCommand("drop table t");
    for (int attempt = 0; attempt < 2; ++attempt) {
      Owned<ArrowArray> batch;
      EXPECT_EQ(EINVAL, stream->get_next(stream.get(), batch.get()));
      EXPECT_STREQ("Query result is no longer valid: table t has changed", stream->get_last_error(stream.get()));
      EXPECT_EQ(nullptr, batch->release);
    }
    Owned<ArrowSchema> schema;
    EXPECT_EQ(0, stream->get_schema(stream.get(), schema.get()));
    EXPECT_EQ(2, schema->n_children);
  }
}

TEST(ArrowExportTest, WhatWasHandedOutOutlivesTheStreamTheCursorAndTheDatabase) {
  ScratchDir dir;
  Owned<ArrowArray> batch;
  Owned<ArrowArray> column;
  Owned<ArrowSchema> field;
  Owned<ArrowArrayStream> neverRead;
  {
    auto db = allTypes(dir, true);
    Owned<ArrowArrayStream> stream;
    {
      QuerySet cursor = db->executeSelect("select name, id from t order by id");
      arrow_export::exportStream(cursor, stream.get());
      arrow_export::exportStream(cursor, neverRead.get());
      Owned<ArrowSchema> schema;
      arrow_export::exportSchema(cursor, schema.get());
      moveOut(schema->children[0], field.get());
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
  // So does a field moved out of its schema.
  EXPECT_STREQ("name", field->name);
  // neverRead is released unread at the end: LeakSanitizer checks that
  // this frees the result and the database it alone still holds.
}

namespace {

// Whether the validity bitmap of `column` marks `row` as NULL.
bool nullBit(const ArrowArray& column, int64_t row) {
  const auto* bits = static_cast<const uint8_t*>(column.buffers[0]);
  return bits != nullptr && (bits[row >> 3] & (1u << (row & 7))) == 0;
}

// 1200 rows, the first 300 in batches of 100 by their id: no NULL, then
// every value NULL, then every third one NULL; then NULLs in stretches of
// 13 rows, which cross every 8-, 16- and 64-row boundary of a run. The
// texts are empty, short, past sixteen bytes or not ASCII, so that the
// export's quick text loop and the checking one take turns within a run,
// and one category is the empty text.
std::string nullBatchesCsv() {
  std::string csv = "id,v,t,c\n";
  for (int i = 0; i < 1200; ++i) {
    const bool null = i < 300 ? i >= 100 && (i < 200 || i % 3 == 0) : (i / 13) % 3 == 0;
    const std::string id = std::to_string(i);
    const std::string category = i % 4 == 3 ? "\"\"" : "c" + std::to_string(i % 4);
    const std::string text = i % 5 == 0   ? "\"\""
                             : i % 7 == 0 ? "a text of more than sixteen bytes " + id
                             : i % 11 == 0 ? "t\xC3\xA9" + id
                                           : "t" + id;
    csv += id + "," + (null ? "" : id) + "," + (null ? "" : text) + "," + (null ? "" : category) + "\n";
  }
  return csv;
}

}  // namespace

// Each batch's validity bitmap against the cursor's own answer: a column
// that may hold NULL has a bitmap, with its exact null count, only in a
// batch that holds a NULL; a column that may not never has one. Batches
// cut short by the text limit keep the count of the rows they keep.
TEST(ArrowExportTest, NullsAreMarkedBatchByBatch) {
  ScratchDir dir;
  DatabaseParser db;
  db.executeCommand("create table n (id int, v int null, t string null, c string cat 1 null)");
  db.executeCommand(("load n from '" + dir.write("n.csv", nullBatchesCsv()) + "'").c_str());
  const auto rowsOf = [](uint32_t rows) {
    arrow_export::Limits limits;
    limits.batchRows = rows;
    return limits;
  };
  arrow_export::Limits byBytes;
  byBytes.batchTextBytes = 150;
  // Cut by bytes, batches run past the rows of NULLs, which take none.
  // Read in stored order (by node), batches of 1, 61 and 100 rows end
  // runs at every bit of a validity byte.
  struct Case {
    const char* query;
    arrow_export::Limits limits;
    bool everyShape;  // whether some batch of each shape is expected
  };
  for (const Case& c : {Case{"select id, v, t, c from n order by id", rowsOf(100), true},
                        Case{"select id, v, t, c from n order by id", byBytes, false},
                        Case{"select c, t, v, id from n", rowsOf(100), true},
                        Case{"select c, t, v, id from n", rowsOf(61), true},
                        Case{"select c, t, v, id from n", rowsOf(1), false},
                        Case{"select c, t, v, id from n", rowsOf(4096), false},
                        Case{"select c, t, v, id from n", byBytes, false}}) {
    SCOPED_TRACE(c.query + (" in batches of " + std::to_string(c.limits.batchRows)) + " rows, " +
                 std::to_string(c.limits.batchTextBytes) + " text bytes");
    QuerySet cursor = db.executeSelect(c.query);
    Owned<ArrowArrayStream> stream;
    arrow_export::exportStream(cursor, stream.get(), c.limits);
    const auto batches = readAll(stream.get());
    uint32_t position = 0;
    // Batches with no NULL, with NULLs only and with both, per column.
    int shapes[3] = {0, 0, 0};
    for (const auto& batch : batches) {
      for (unsigned short col = 0; col < 4; ++col) {
        const ArrowArray& column = *batch->value.children[col];
        int64_t nulls = 0;
        for (int64_t row = 0; row < column.length; ++row) {
          cursor.setRow(position + static_cast<uint32_t>(row));
          ASSERT_EQ(cursor.isNull(col), nullBit(column, row)) << "column " << col << " row " << position + row;
          nulls += cursor.isNull(col);
          if (cursor.isNull(col)) continue;
          if (column.n_buffers == 3) {
            ASSERT_EQ(cursor.getString(col), textAt(column, row)) << "column " << col << " row " << position + row;
          } else {
            ASSERT_EQ(cursor.getInt(col), valueAt<int32_t>(column, row)) << "column " << col << " row " << position + row;
          }
        }
        EXPECT_EQ(nulls, column.null_count) << "column " << col;
        EXPECT_EQ(nulls == 0, column.buffers[0] == nullptr) << "column " << col;
        if (cursor.mayBeNull(col)) ++shapes[nulls == 0 ? 0 : nulls == column.length ? 1 : 2];
      }
      position += static_cast<uint32_t>(batch->value.length);
    }
    EXPECT_EQ(1200u, position);
    EXPECT_GE(batches.size(), 1u);
    for (const int shape : shapes) EXPECT_TRUE(shape > 0 || !c.everyShape);
  }
}
