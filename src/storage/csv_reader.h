#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/buffer.h"
#include "storage/data_iterator.h"
#include "storage/data_type.h"
#include "storage/input_file.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"

// Reads a CSV file row by row and presents each row in the stored row
// layout of a node table (every column plain), so rows can be handed to a
// table builder like rows of a stored table. The Buffer base is the row
// buffer holding the current row: the fixed-width values at their layout
// offsets, then the texts of the STRING columns in column order, each
// NUL-terminated.
//
// Input format: lines end with a line feed or a carriage return and a line
// feed; empty lines are skipped. The first line is a header and is skipped;
// every further line is a row of comma-separated fields; a double quote
// toggles a quoted state in which commas belong to the field; a field
// starting with a double quote loses its first and last characters, and a
// doubled double quote inside it stands for one; a text ends at a NUL byte
// in its field. Lines of any length are read whole; a row whose stored form
// would take 65536 bytes or more is refused.
//
// Pointers from getPointer() and the row view are valid until the next
// nextRow(). Any failure in nextRow() ends the reading: later calls answer
// false. Numeric fields, whose conversion never fails, are converted when
// first asked for (getPointer of that column, or getRowView for all), and
// texts are copied into the row only by getRowView (getPointer reads them
// in the line), so a caller that reads a few columns does not pay for the
// others; every value that can be refused (booleans, dates, the row's
// length) is checked in nextRow().
class CSVReader : public Buffer, public DataIterator {
 public:
  // Longest stored row, fixed part and texts with their NULs.
  static constexpr size_t MAX_ROW_BYTES = 65535;

  CSVReader();

  // Reads `fileName` with the given column types, in file order. Throws
  // DatabaseException "Unable to read file %s" when it cannot be opened.
  void init(std::string fileName, std::vector<DATA_TYPE> columnTypes);
  // Reads `fileName` with as many STRING columns as the header has fields.
  void init(std::string fileName);
  // Opens the file and skips its header line; the next nextRow() reads the
  // first data line. An empty file has no rows.
  void openFile(std::string fileName);

  // Reads and stores the next row; false at the end of the file and after
  // any earlier failure. Throws DatabaseException for a line whose field
  // count differs from the number of columns (naming the line), and for a
  // row that is too long or holds a value that does not convert (naming
  // its line number and the file).
  bool nextRow() override;
  // The stored value of column `col` (file order) in the current row; null
  // before the first row and for a column outside the layout.
  void* getPointer(unsigned short col) override;

  // The text of STRING column `column` (file order) in the current row and
  // its length; the row must be current. Valid until the next nextRow().
  const char* getText(unsigned short column, size_t& length) const;
  // The current row as a row of the reader's layout, every value converted.
  NodeIterator& getRowView();
  // The current row with every number converted but its texts left in the
  // line, where getTexts finds them; only its fixed-width values may be read.
  NodeIterator& getFixedView();
  // The texts of the current row in column order: the i-th at texts[i],
  // NUL-terminated, its length + 1 at bytes[i]; each array needs room for
  // every STRING column. Valid until the next nextRow().
  void getTexts(const char** texts, size_t* bytes) const;
  unsigned short getNumberOfColumns() const { return numColumns; }
  // ", line N of FILE" for the line of the current row (counted from 1, the
  // header and empty lines included), to end a message about that row.
  std::string where() const;

  std::vector<DATA_TYPE> types;  // column types, file order
  NodeConfig config;             // layout of the row buffer
  NodeIterator rowView;          // the current row in the row buffer
  InputFile input;
  Buffer lineBuffer;             // block of file data holding the current line
  std::string fileName;
  unsigned short numColumns = 0;

 private:
  // Builds the layout and the per-column write targets from `types`.
  void buildLayout();
  // Finds the next line in the file data, reading more blocks as needed,
  // and NUL-terminates it in place without its line end. False when the
  // file has no more lines.
  bool readLine(char*& line, size_t& length);
  // readLine, skipping empty lines.
  bool readFilledLine(char*& line, size_t& length);
  // Appends the next block of the file after the unread data; grows the
  // line buffer when the unread data fills it.
  void readBlock();
  // Cuts a line into NUL-terminated fields in place; records the first
  // numColumns fields and answers the number of fields. The 16 bytes after
  // the line's end must be readable (the line buffer's slack).
  size_t splitLine(char* line, size_t length);
  // Cuts the next line in place when it is short (a line feed within 64
  // bytes), holds no double quote and no NUL, and has exactly numColumns
  // fields: the usual line, cut in one step. False, with nothing changed,
  // for any other line, which readLine and splitLine then take.
  bool splitShortLine();
  // Converts the recorded fields into the row buffer, all but the numbers.
  void storeRow();
  // Converts the number of `column` into the row buffer unless done for
  // this row.
  void convertNumber(unsigned short column);
  // Copies the texts into the row buffer unless done for this row.
  void copyTexts();
  [[noreturn]] void throwColumnCount(char* line, size_t length);

  // One field of the current line.
  struct Field {
    char* text;
    size_t length;
  };

  size_t lineBegin = 0;     // offset in lineBuffer of the first unread byte
  size_t dataEnd = 0;       // offset in lineBuffer just past the file data read
  bool endOfFile = true;    // the file has no more data to read
  bool finished = true;     // no further row will be returned
  size_t headerFields = 0;  // fields of the header line (0 without one)
  std::vector<Field> fields;               // first numColumns fields of the line, one per column
  bool lineHasQuotes = false;              // the current line holds a double quote
  bool lineHasNuls = false;                // the current line holds a NUL byte
  std::vector<unsigned short> rowOffsets;  // column -> offset of its fixed value
  std::vector<unsigned short> numberColumns;  // columns converted on demand
  std::vector<unsigned short> textColumns;    // STRING columns, in column order
  std::vector<unsigned short> checkedColumns; // BOOL and DATE columns, converted by nextRow
  uint64_t textsCopiedAt = 0;                 // rowSerial when the texts were last copied
  std::vector<uint64_t> convertedAt;          // column -> rowSerial of its last conversion
  uint64_t rowSerial = 0;                     // rows stored so far
  uint64_t linesRead = 0;                     // lines taken from the file so far
};
