#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "storage/arrow_abi.h"
#include "storage/data_iterator.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/row_block.h"
#include "storage/task_thread.h"

// Reads the record batches of an Arrow C stream and presents them row by
// row in the stored row layout of a node table (every column plain), as
// CSVReader presents the rows of a file, so that a loader adds them
// through the same path. Columns are matched by position.
//
// The reader takes the stream over: the caller's struct is left released
// (its release callback null) and the reader releases the stream, and every
// batch and schema it obtained, when it is destroyed. The stream's
// callbacks run on the calling thread, inside the constructor and
// nextRow(); they may run host code.
//
// The constructor reads the schema and refuses, before any row is read, a
// stream whose column count differs from the table's and a column whose
// Arrow type cannot become its column type: integers become LONG, INT or
// SHORT; float32 and float64 become DOUBLE or FLOAT; boolean BOOL; date32
// and date64 DATE; utf8, large_utf8, utf8_view and dictionaries of them
// STRING; the null type any column. A value that does not fit its column
// (an integer or float beyond its range, a date outside 1970-01-01 to
// 2149-06-06, a text holding a NUL byte) and a null in a column that cannot
// hold NULL fail nextRow() on its row, after every row before it was
// handed out; messages name the column and end with where().
//
// Rows are converted a block at a time, column by column. Pointers from
// getPointer(), getTexts() and the row view stay valid until the next
// nextRow(). Any failure ends the reading: later calls answer false.
//
// With `convertAhead`, a thread of the reader's own converts the next block
// while the caller works on the current one; a block the thread has not
// begun when the caller needs it the caller converts itself, so that a
// thread slow to be scheduled costs no more than converting without it.
// The thread only reads the buffers of batches the reader holds and writes
// the block it was given; every stream callback, the release of every
// batch and every message stay on the calling thread, and the rows, their
// order and the failures are those of reading without it. The thread ends
// with the reader.
class ArrowStreamReader : public DataIterator {
 public:
  // Most rows converted at a time, and the most bytes a block of converted
  // rows should take: a wide row makes the blocks shorter, down to
  // kMinBlockRows. Fewer, longer blocks mean fewer hand-overs between the
  // threads.
  static constexpr uint32_t kBlockRows = 4096;
  static constexpr uint32_t kMinBlockRows = 256;
  static constexpr size_t kBlockBytes = 512 * 1024;

  // Takes `stream` over and reads its schema, for a table of the given
  // column types, nullable flags (column -> 1 when it may hold NULL; empty
  // for none) and names (for messages). Throws DatabaseException when the
  // schema cannot be read or does not fit the columns; the stream is
  // released then.
  ArrowStreamReader(ArrowArrayStream& stream, std::vector<DATA_TYPE> types, std::vector<unsigned char> nullable,
                    std::vector<std::string> names, bool convertAhead = false);
  ArrowStreamReader(const ArrowStreamReader&) = delete;
  ArrowStreamReader& operator=(const ArrowStreamReader&) = delete;

  // Makes the next row current; false at the end of the stream and after
  // any earlier failure. Throws DatabaseException for a row holding a value
  // its column cannot take and when the stream reports an error.
  bool nextRow() override;
  // The stored value of `column` in the current row (a text NUL-terminated);
  // null for a NULL, for a column outside the table and before the first row.
  void* getPointer(unsigned short column) override;
  // The current row's fixed-width values in the row layout; its texts are
  // not in it, getTexts gives them.
  NodeIterator& getFixedView() { return view_; }
  // The texts of the current row in column order: the i-th is the
  // bytes[i] - 1 bytes at texts[i] (its length + 1), which need not be
  // followed by a NUL.
  void getTexts(const char** texts, size_t* bytes) const;
  // The current row and the rows after it in the block converted with it,
  // up to the first that fails, for TreeTable::addBlock; valid until the
  // next nextRow().
  RowBlock restOfBlock() const;
  // Makes the row `rows` after the current one current; it must lie in
  // restOfBlock().
  void skipRows(uint32_t rows);
  // ", row N of the Arrow stream" for the current row, counted from 1 in
  // stream order, to end a message about it.
  std::string where() const;

  // How a column's Arrow values are read (kOther: a type no column takes).
  enum class Source : unsigned char {
    kNull, kInt8, kUInt8, kInt16, kUInt16, kInt32, kUInt32, kInt64, kUInt64,
    kFloat32, kFloat64, kBool, kDate32, kDate64, kUtf8, kLargeUtf8, kUtf8View, kOther,
  };

 private:
  // One column of the stream: how its values (or, for a dictionary, its
  // indices) are read, and how a dictionary's values are.
  struct Column {
    Source source = Source::kNull;
    bool dictionary = false;
    Source values = Source::kNull;  // of the dictionary
  };
  // The Arrow structures the reader owns, released when it goes.
  struct OwnedStream {
    ArrowArrayStream raw{};
    ~OwnedStream() { if (raw.release != nullptr) raw.release(&raw); }
  };
  struct OwnedSchema {
    ArrowSchema raw{};
    ~OwnedSchema() { if (raw.release != nullptr) raw.release(&raw); }
  };
  struct OwnedArray {
    ArrowArray raw{};
    ~OwnedArray() { if (raw.release != nullptr) raw.release(&raw); }
    void reset() {
      if (raw.release != nullptr) raw.release(&raw);
      raw = ArrowArray{};
    }
  };
  // A dictionary's texts, NUL-terminated, for one batch.
  struct DictionaryTexts {
    std::vector<char> bytes;
    std::vector<size_t> offsets;  // entry -> start in bytes
    std::vector<size_t> lengths;  // entry -> length + 1, or 0 when it holds a NUL
    std::vector<uint64_t> hashes; // entry -> its text_bytes::hash
  };
  // A batch obtained from the stream, held until no block reads it.
  struct Batch {
    OwnedArray array;
    std::vector<DictionaryTexts> dictionaries;  // column -> its texts
    uint64_t rows = 0;                          // rows of the batch
    uint64_t next = 0;                          // its first row not yet given to a block
  };
  // The first value of a block that its column cannot take.
  struct Failure {
    uint32_t row = UINT32_MAX;  // in the block
    std::string message;
  };
  // Rows converted from one batch.
  struct Block {
    std::vector<char> fixed;  // the rows' fixed parts
    // Row * text count + text index -> the text, in the batch or a
    // dictionary's copy, not necessarily followed by a NUL.
    std::vector<const char*> texts;
    std::vector<size_t> textBytes;     // the same -> length + 1
    std::vector<uint64_t> textHashes;  // the same -> its text_bytes::hash
    Failure failure;
    uint32_t rows = 0;

    // Sets entry `entry` to the text of `bytes` - 1 bytes at `text`.
    void setText(size_t entry, const char* text, size_t bytes, uint64_t hash) {
      texts[entry] = text;
      textBytes[entry] = bytes;
      textHashes[entry] = hash;
    }
    // Sets entry `entry` to the empty text, as a NULL holds.
    void setEmpty(size_t entry);

    // Records that row `row` cannot be stored, unless an earlier row
    // already cannot.
    void fail(uint32_t row, std::string message);
    // The rows still worth converting: those before a failure.
    uint32_t rowsBefore(uint32_t count) const { return count < failure.row ? count : failure.row; }
  };
  // Where the next block comes from: rows [first, first + count) of a batch.
  struct Job {
    Batch* batch = nullptr;
    uint64_t first = 0;
    uint32_t count = 0;
  };

  void readSchema();
  void checkColumn(unsigned short column, const ArrowSchema& schema);
  // Obtains the next batch with rows into `batch`, releasing what it held;
  // false at the end of the stream.
  bool nextBatch(Batch& batch);
  void checkBatch(const ArrowArray& batch) const;
  // Makes the next block current; false at the end of the stream.
  bool loadBlock();
  // The next rows to convert, obtaining a batch when the newest has none
  // left; false at the end of the stream.
  bool nextJob(Job& job);
  // Hands the next block to the thread, or records why there is none.
  void startAhead();
  void convertBlock(Block& block, const Job& job) const;
  void convertNulls(Block& block, unsigned short column, const ArrowArray& array, uint64_t first,
                    uint32_t count) const;
  void convertFixed(Block& block, unsigned short column, const ArrowArray& array, uint64_t first,
                    uint32_t count) const;
  void convertTexts(Block& block, unsigned short column, const ArrowArray& array, uint64_t first,
                    uint32_t count) const;
  // convertTexts for utf8 arrays, reading their offsets in one pass.
  void convertUtf8(Block& block, unsigned short column, const ArrowArray& array, uint64_t base, uint32_t count,
                   bool searchEach) const;
  void convertDictionary(Block& block, const DictionaryTexts& dictionary, unsigned short column,
                         const ArrowArray& array, uint64_t first, uint32_t count) const;
  void prepareDictionary(DictionaryTexts& texts, unsigned short column, const ArrowArray& dictionary) const;
  bool isNullable(unsigned short column) const { return nullable_[column] != 0; }
  // Stores the text of row `row` of the block, or fails the row; a text
  // may hold a NUL only when `searchNul` is set.
  void storeText(Block& block, unsigned short column, uint32_t row, const char* text, int64_t length,
                 bool searchNul) const;
  std::string streamError(int code) const;

  // Declared first, so that the stream goes after what it handed out.
  OwnedStream stream_;
  OwnedSchema schema_;
  // The batch of the current block and the newest one, which the block
  // converted ahead may read; either may be the other's.
  Batch batches_[2];
  Batch* currentBatch_ = &batches_[0];
  Batch* newestBatch_ = &batches_[0];
  std::vector<DATA_TYPE> types_;
  std::vector<unsigned char> nullable_;
  std::vector<std::string> names_;
  std::vector<Column> columns_;
  NodeConfig config_;                    // layout of the rows
  uint32_t blockRows_ = kBlockRows;      // rows converted at a time
  Block blocks_[2];                      // the current block and the one converted ahead
  Block* block_ = &blocks_[0];           // the current block
  Block* ahead_ = &blocks_[1];           // the block converted ahead
  Job aheadJob_;                         // its rows; their batch null when no block is ahead
  std::exception_ptr aheadError_;        // why no block is ahead, to be thrown in its turn
  std::vector<std::string> terminated_;  // text index -> the current row's, with its NUL
  NodeIterator view_;
  uint64_t streamRows_ = 0;     // rows of the batches obtained so far
  uint64_t rowsBefore_ = 0;     // stream rows before the current block
  uint32_t row_ = 0;            // current row in the block
  bool started_ = false;        // a row was made current
  bool finished_ = false;       // no further row will be returned
  bool streamEnded_ = false;    // the stream has no batch left
  // Declared last: the thread ends before anything it reads goes.
  std::unique_ptr<TaskThread> worker_;
};
