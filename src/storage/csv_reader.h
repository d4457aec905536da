#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/buffer.h"
#include "storage/converted_value_cache.h"
#include "storage/data_iterator.h"
#include "storage/data_type.h"
#include "storage/line_reader.h"
#include "storage/line_splitter.h"
#include "storage/node_config.h"
#include "storage/node_iterator.h"
#include "storage/row_batch.h"

// Reads a CSV file row by row and presents each row in the stored row
// layout of a node table (every column plain), so rows can be handed to a
// table builder like rows of a stored table. Lines come from a LineReader,
// are cut into fields by a LineSplitter, and each field is converted as
// copyStringValueToBuffer converts text. The Buffer base is the row
// buffer holding the current row: the fixed-width values at their layout
// offsets, then the texts of the STRING columns in column order, each
// NUL-terminated.
//
// Input format (RFC 4180): lines end with a line feed or a carriage return
// and a line feed; empty lines are skipped. The first record is a header
// and is skipped; every further record is a row of fields separated by a
// comma, or by the one-byte separator init() names (a semicolon, a tab).
// A field that starts with a double quote is quoted: separators and line
// ends up to its closing quote belong to it (so a record may span lines), and a
// doubled double quote inside stands for one; text after the closing quote
// is kept. A double quote elsewhere is an ordinary character. A text ends
// at a NUL byte in its field. Lines of any length are read whole; a row
// whose stored form would take 65536 bytes or more is refused, and so is a
// quoted field that the end of the file leaves open.
//
// In a column that may hold NULL (see init) a field is NULL when it is
// empty and unquoted, when it is empty and quoted ("") in any but a STRING
// column (there it is the empty text), and, in a number column, when no
// number is found in it ("NA", "-", "?"; "nan" and "inf" are numbers). A
// NULL is flagged in the row's null bitmap and keeps zero bytes or the
// empty text; any other bad text in a BOOL or DATE column is refused as in
// a column without NULL.
//
// Pointers from getPointer() and the row view are valid until the next
// nextRow(). Any failure in nextRow() ends the reading: later calls answer
// false. Floating-point fields, whose conversion never fails, are
// converted when first asked for (getPointer of that column, or getRowView
// for all), and texts are copied into the row only by getRowView
// (getPointer reads them in the line), so a caller that reads a few columns
// does not pay for the others; every value that can be refused (integers
// that do not fit their column, booleans, dates, the row's length) is
// checked in nextRow(). An integer of a few plain digits, and a short
// decimal of a DOUBLE column, is read as one word (short_number); any other
// integer, boolean or date whose text the column met before is stored from
// the column's ConvertedValueCache.
class CSVReader : public Buffer, public DataIterator {
 public:
  // Longest stored row, fixed part and texts with their NULs.
  static constexpr size_t MAX_ROW_BYTES = 65535;

  CSVReader();

  // Reads `fileName` with the given column types, in file order, its
  // fields separated by `separator`; `nullable` (column -> 1 when the
  // column may hold NULL) is empty, for none, or has an entry per column.
  // Throws DatabaseException "Unable to read file %s" when it cannot be
  // opened, and refuses a separator that is a double quote, a line break
  // or NUL.
  void init(std::string fileName, std::vector<DATA_TYPE> columnTypes, char separator = ',',
            std::vector<unsigned char> nullable = {});
  // Sets the column types, separator and nullable columns as init() does,
  // without opening a file: readText() then hands the records to read.
  void prepare(std::vector<DATA_TYPE> columnTypes, char separator, std::vector<unsigned char> nullable);
  // Reads the first `bytes` bytes of `text` (whole records, no header;
  // kSlackBytes of LineReader readable past them) as the rows of a file
  // whose first `linesBefore` lines came before them, for line numbers;
  // the reader takes the block of `text` and gives it another.
  void readText(Buffer& text, size_t bytes, uint64_t linesBefore);
  // Gives the block of text that readText took back to `text` (see
  // LineReader::closeText): the texts that getTexts handed out stay valid
  // there. No row follows.
  void closeText(Buffer& text);
  // Reads `fileName` with as many STRING columns as the header has fields.
  void init(std::string fileName, char separator = ',');
  // Opens the file and skips its header line; the next nextRow() reads the
  // first data line. An empty file has no rows.
  void openFile(std::string fileName);
  // Opens the file to read the records that start after byte `offset` of
  // its text: the line holding that byte is passed over (unread, so a
  // caller must know that no quoted field runs across it), no header is
  // skipped, and line numbers count from the first line read.
  void openFileAfter(std::string fileName, uint64_t offset);
  // Bytes of the file's text before the next record: just past the
  // current one, and any empty lines its reading passed over.
  uint64_t textOffset() const { return lines.offset(); }
  // Whether the file's text is inflated from compressed data.
  bool compressed() const { return lines.compressed(); }

  // Reads and stores the next row; false at the end of the file and after
  // any earlier failure. Throws DatabaseException for a line whose field
  // count differs from the number of columns (quoting the line), and for a
  // row that is too long or holds a value that does not convert or does
  // not fit its column; every message ends naming the line number and the
  // file.
  bool nextRow() override;
  // The stored value of column `col` (file order) in the current row; null
  // before the first row, for a column outside the layout and for a NULL.
  void* getPointer(unsigned short col) override;
  // Whether the value of column `col` in the current row is NULL.
  bool isNull(unsigned short column) const;
  // Tells the reader that the caller reads no more values of `column`:
  // from the next row on, an integer there that surely fits is checked but
  // not converted, so the row may hold any value for it. Every value is
  // still refused as before.
  void skipValues(unsigned short column);

  // The stored value of integer, BOOL or DATE column `column` (file order)
  // in the current row, not NULL and its values not skipped; the row must
  // be current. Valid until the next nextRow().
  const char* checkedValue(unsigned short column) const { return start() + rowOffsets[column]; }
  // Whether `column` holds integers, booleans or dates, which nextRow stores.
  bool isChecked(unsigned short column) const { return !isFloating(types[column]) && types[column] != STRING; }
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
  // The same texts, each with its length + 1 beside it.
  void getTexts(RowBatch::Text* texts) const;
  unsigned short getNumberOfColumns() const { return numColumns; }
  char separator() const { return splitter.separator(); }
  // The column names that messages use, in file order; without them a
  // message names a column by its number, counted from 1.
  void setColumnNames(std::vector<std::string> names);
  // ", line N of FILE" for the first line of the current row (counted from
  // 1, the header and empty lines included), to end a message about it.
  std::string where() const;
  // The line number where() names.
  uint64_t recordLineNumber() const { return recordLine; }

  std::vector<DATA_TYPE> types;  // column types, file order
  std::vector<unsigned char> nullable;  // column -> 1 when it may hold NULL, file order
  NodeConfig config;             // layout of the row buffer
  NodeIterator rowView;          // the current row in the row buffer
  std::string fileName;
  unsigned short numColumns = 0;

 private:
  // Builds the layout and the per-column write targets from `types`.
  void buildLayout();
  // Refuses a separator that could not be told from quoting or a line end,
  // else hands it to the splitter.
  void setSeparator(char separator);
  // Cuts the next record into the splitter's fields; false at the end of
  // the file. Throws for a record whose field count is not numColumns.
  bool splitNextLine();
  // Reads the next record that does not start with an empty line into the
  // splitter's fields, and its field count into `fields`: a line, joined
  // with the lines after it while a quoted field runs on. False at the end
  // of the file; throws when the file ends inside a quoted field.
  bool readRecord(char*& line, size_t& length, size_t& fields);
  // Converts the recorded fields into the row buffer, all but the numbers.
  void storeRow();
  // Where a DOUBLE or FLOAT column's value goes in the row.
  struct NumberColumn {
    unsigned short column;
    unsigned short offset;  // of its value in the row
    bool isDouble;
  };
  // The target of floating-point `column`.
  NumberColumn numberColumn(unsigned short column) const {
    return {column, rowOffsets[column], types[column] == DOUBLE};
  }
  // Converts the floating-point number of `number` into the row buffer
  // unless done for this row.
  void convertNumber(const NumberColumn& number);
  // How nextRow stores the values of an integer, BOOL or DATE column.
  struct CheckedColumn {
    unsigned short column;
    unsigned short offset;     // of its value in the row
    unsigned char width;       // of its value
    unsigned char plainDigits; // most plain digits that surely fit it; 0 for BOOL and DATE
    bool skipped;              // the caller reads none of its values
  };
  // Stores the integer, boolean or date of `checked` into `row`: plain
  // digits that surely fit straight, else from its cache when the text was
  // met before; throws for a value that does not convert or does not fit.
  void storeChecked(const CheckedColumn& checked, char* row);
  // Converts the integer, boolean or date of `column` to `dest`; throws as
  // storeChecked does.
  void convertChecked(unsigned short column, char* dest);
  // Copies the texts into the row buffer unless done for this row.
  void copyTexts();
  // Whether the field of nullable `column` stands for NULL: an empty
  // field not written "" in a STRING column, any empty field in the
  // others, and a number field in which no number is found.
  bool isMissing(unsigned short column) const;
  // Writes the row's null bitmap, and zero bytes for its NULLs.
  void storeNulls(char* row);
  // Stores the empty field of a BOOL or DATE column at `dest`; as such a column
  // cannot hold an empty value, throws the conversion's message followed
  // by how to load missing values.
  void storeEmpty(unsigned short column, char* dest);
  [[noreturn]] void throwColumnCount(char* line, size_t length);

  LineReader lines;
  LineSplitter splitter;    // holds the fields of the current line
  bool finished = true;     // no further row will be returned
  size_t headerFields = 0;  // fields of the header line (0 without one)
  std::vector<unsigned short> rowOffsets;  // column -> offset of its fixed value
  std::vector<std::string> columnNames;       // names for messages, file order
  std::vector<NumberColumn> numberColumns;    // floating-point columns, converted on demand
  std::vector<unsigned short> textColumns;    // STRING columns, in column order
  std::vector<CheckedColumn> checkedColumns;  // integer, BOOL and DATE columns, converted by nextRow
  std::vector<ConvertedValueCache> checkedValues; // column -> values of its texts, for checked columns
  std::vector<unsigned short> nullableColumns; // columns that may hold NULL
  uint64_t textsCopiedAt = 0;                 // rowSerial when the texts were last copied
  std::vector<uint64_t> convertedAt;          // column -> rowSerial of its last conversion
  uint64_t rowSerial = 0;                     // rows stored so far
  uint64_t recordLine = 0;                    // line number where the current record starts
  uint64_t linesBefore = 0;                   // lines of the file before those `lines` reads
};
