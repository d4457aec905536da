#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/arrow_abi.h"
#include "storage/data_iterator.h"
#include "storage/data_type.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/row_block.h"

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
class ArrowStreamReader : public DataIterator {
 public:
  // Rows converted at a time.
  static constexpr uint32_t kBlockRows = 1024;

  // Takes `stream` over and reads its schema, for a table of the given
  // column types, nullable flags (column -> 1 when it may hold NULL; empty
  // for none) and names (for messages). Throws DatabaseException when the
  // schema cannot be read or does not fit the columns; the stream is
  // released then.
  ArrowStreamReader(ArrowArrayStream& stream, std::vector<DATA_TYPE> types, std::vector<unsigned char> nullable,
                    std::vector<std::string> names);
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
  // A dictionary's texts, NUL-terminated, for the current batch.
  struct DictionaryTexts {
    std::vector<char> bytes;
    std::vector<size_t> offsets;  // entry -> start in bytes
    std::vector<size_t> lengths;  // entry -> length + 1, or 0 when it holds a NUL
  };
  // The first value of the current block that its column cannot take.
  struct Failure {
    uint32_t row = UINT32_MAX;  // in the block
    std::string message;
  };

  void readSchema();
  void checkColumn(unsigned short column, const ArrowSchema& schema);
  // Releases the current batch and obtains the next one with rows; false
  // at the end of the stream.
  bool nextBatch();
  void checkBatch() const;
  // Converts the next block of the current batch; false at the end of the
  // stream.
  bool loadBlock();
  void convertBlock(uint64_t first, uint32_t count);
  void convertNulls(unsigned short column, const ArrowArray& array, uint64_t first, uint32_t count);
  void convertFixed(unsigned short column, const ArrowArray& array, uint64_t first, uint32_t count);
  void convertTexts(unsigned short column, const ArrowArray& array, uint64_t first, uint32_t count);
  // convertTexts for utf8 arrays, reading their offsets in one pass.
  void convertUtf8(unsigned short column, const ArrowArray& array, uint64_t base, uint32_t count, bool searchEach);
  void convertDictionary(unsigned short column, const ArrowArray& array, uint64_t first, uint32_t count);
  void prepareDictionary(unsigned short column, const ArrowArray& dictionary);
  // Records that row `row` of the block cannot be stored, unless an
  // earlier row already cannot.
  void fail(uint32_t row, std::string message);
  // The rows of the block still worth converting: those before a failure.
  uint32_t rowsBefore(uint32_t count) const { return count < failure_.row ? count : failure_.row; }
  bool isNullable(unsigned short column) const { return nullable_[column] != 0; }
  // Stores the text of row `row` of the block, or fails the row; a text
  // may hold a NUL only when `searchNul` is set.
  void storeText(unsigned short column, uint32_t row, const char* text, int64_t length, bool searchNul);
  std::string streamError(int code) const;

  // Declared first, so that the stream goes after what it handed out.
  OwnedStream stream_;
  OwnedSchema schema_;
  OwnedArray batch_;
  std::vector<DATA_TYPE> types_;
  std::vector<unsigned char> nullable_;
  std::vector<std::string> names_;
  std::vector<Column> columns_;
  std::vector<DictionaryTexts> dictionaries_;  // column -> its texts in this batch
  NodeConfig config_;                          // layout of the rows
  std::vector<char> fixed_;                    // the block's rows, fixed parts
  // Block row * text count + text index -> the text, in the batch or a
  // dictionary's copy, not necessarily followed by a NUL.
  std::vector<const char*> texts_;
  std::vector<size_t> textBytes_;              // the same -> length + 1
  std::vector<std::string> terminated_;        // text index -> the current row's, with its NUL
  NodeIterator view_;
  Failure failure_;
  uint64_t batchRows_ = 0;      // rows of the current batch
  uint64_t batchNext_ = 0;      // its first row not yet converted
  uint64_t rowsBefore_ = 0;     // stream rows before the current block
  uint32_t blockRows_ = 0;      // rows of the current block
  uint32_t row_ = 0;            // current row in the block
  bool started_ = false;        // a row was made current
  bool finished_ = false;       // no further row will be returned
};
