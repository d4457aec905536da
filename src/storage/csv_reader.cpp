// Reading the rows of a CSV file into the stored row layout: the columns'
// write targets, the conversion of each row's fields, and the row's checks.

#include "storage/csv_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "errors/database_exception.h"
#include "storage/short_number.h"
#include "storage/text_bytes.h"
#include "storage/unaligned.h"

namespace {

// Longest line text a message quotes; a longer one is cut and ends in "...".
constexpr size_t kQuotedBytes = 200;

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The text as a message quotes it: whole up to kQuotedBytes, else cut there
// (before a character that the cut would split) and followed by "...".
std::string quotedText(const char* text, size_t length) {
  if (length <= kQuotedBytes) return std::string(text, length);
  size_t cut = kQuotedBytes;
  while (cut > 0 && isUtf8Continuation(text[cut])) --cut;
  return std::string(text, cut) + "...";
}

// The number a field holds as an integer field is read: blanks skipped,
// then a sign and the digits, quoted as a message quotes a line.
std::string numberText(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  size_t length = (*text == '+' || *text == '-') ? 1 : 0;
  while (text[length] >= '0' && text[length] <= '9') ++length;
  return quotedText(text, length);
}

// Most plain digits that surely fit a column of `type`: 4 for a SHORT, all
// that short_number reads for an INT or LONG, none for a BOOL or DATE.
unsigned char plainDigitsFitting(DATA_TYPE type) {
  if (type == SHORT) return 4;
  return type == INT || type == LONG ? short_number::kMostBytes : 0;
}

// Stores the integer `value` as `width` bytes (2, 4 or 8) at `dest`.
void storeInteger(char* dest, uint64_t value, unsigned width) {
  if (width == 2) {
    unaligned::store<int16_t>(dest, static_cast<int16_t>(value));
  } else if (width == 4) {
    unaligned::store<int32_t>(dest, static_cast<int32_t>(value));
  } else {
    unaligned::store<int64_t>(dest, static_cast<int64_t>(value));
  }
}

}  // namespace

static_assert(LineReader::kSlackBytes >= LineSplitter::kReadAheadBytes,
              "the splitter loads chunks past a line's end, within the reader's slack");

CSVReader::CSVReader() = default;

void CSVReader::init(std::string name, std::vector<DATA_TYPE> columnTypes, char separator,
                     std::vector<unsigned char> nullableColumns) {
  prepare(std::move(columnTypes), separator, std::move(nullableColumns));
  openFile(std::move(name));
}

void CSVReader::prepare(std::vector<DATA_TYPE> columnTypes, char separator,
                        std::vector<unsigned char> nullableColumns) {
  setSeparator(separator);
  if (!nullableColumns.empty() && nullableColumns.size() != columnTypes.size()) {
    throw DatabaseException("Nullable flags do not match the columns of the CSV reader");
  }
  types = std::move(columnTypes);
  nullable = std::move(nullableColumns);
  if (nullable.empty()) nullable.assign(types.size(), 0);
  buildLayout();
}

void CSVReader::init(std::string name, char separator) {
  setSeparator(separator);
  openFile(std::move(name));
  types.assign(headerFields, STRING);
  nullable.assign(headerFields, 0);
  buildLayout();
}

void CSVReader::setSeparator(char separator) {
  if (separator == '"') {
    throw DatabaseException(ErrorKind::kParse,
                            "Separator '\"' cannot separate fields: a double quote starts a quoted field");
  }
  if (separator == '\n' || separator == '\r') {
    throw DatabaseException(ErrorKind::kParse,
                            "Separator cannot be a line break: line feeds and carriage returns end lines");
  }
  if (separator == '\0') throw DatabaseException(ErrorKind::kParse, "Separator cannot be a NUL byte");
  splitter.setSeparator(separator);
}

void CSVReader::buildLayout() {
  config.init(types, nullable);
  numColumns = config.numColumns;
  rowOffsets.assign(numColumns, 0);
  for (unsigned short column = 0; column < numColumns; ++column) {
    const unsigned short position = config.positions[column];
    if (position < config.numFixed) rowOffsets[column] = config.offsets[position];
  }
  numberColumns.clear();
  textColumns.clear();
  checkedColumns.clear();
  nullableColumns.clear();
  checkedValues.assign(numColumns, ConvertedValueCache());
  for (unsigned short column = 0; column < numColumns; ++column) {
    if (nullable[column] != 0) nullableColumns.push_back(column);
    // A floating-point conversion never fails, so it can wait until it is
    // read; an integer may not fit its column.
    if (isFloating(types[column])) {
      numberColumns.push_back(numberColumn(column));
    } else if (types[column] == STRING) {
      textColumns.push_back(column);
    } else {
      const auto width = static_cast<unsigned char>(getTypeWidth(types[column]));
      checkedColumns.push_back({column, rowOffsets[column], width, plainDigitsFitting(types[column]), false});
      // Indexed by column; only the checked columns' caches are used.
      checkedValues[column] = ConvertedValueCache(width);
    }
  }
  convertedAt.assign(numColumns, 0);
  splitter.setColumns(numColumns);
  rowView = NodeIterator();
}

void CSVReader::openFile(std::string name) {
  fileName = std::move(name);
  lines.open(fileName);
  linesBefore = 0;
  rowView = NodeIterator();
  char* header = nullptr;
  size_t headerLength = 0;
  finished = !readRecord(header, headerLength, headerFields);
  if (finished) headerFields = 0;
}

void CSVReader::openFileAfter(std::string name, uint64_t offset) {
  fileName = std::move(name);
  lines.open(fileName);
  lines.skip(offset);
  linesBefore = 0;
  rowView = NodeIterator();
  char* partial = nullptr;
  size_t partialLength = 0;
  finished = !lines.readLine(partial, partialLength);
}

void CSVReader::readText(Buffer& text, size_t bytes, uint64_t linesBeforeText) {
  lines.openText(text, bytes);
  linesBefore = linesBeforeText;
  rowView = NodeIterator();
  finished = false;
}

void CSVReader::closeText(Buffer& text) {
  lines.closeText(text);
  rowView = NodeIterator();
  finished = true;
}

bool CSVReader::nextRow() {
  if (finished) return false;
  // Reading ends at the end of the file and at the first failure:
  // `finished` stays set unless a row is stored.
  finished = true;
  if (!splitNextLine()) return false;
  try {
    storeRow();
  } catch (const DatabaseException& e) {
    throw DatabaseException("%s%s", e.what(), where().c_str());
  }
  finished = false;
  return true;
}

bool CSVReader::splitNextLine() {
  const size_t shortLine = splitter.splitShort(lines.unread(), lines.unreadBytes());
  if (shortLine != 0) {
    lines.takeLine(shortLine);
    recordLine = linesBefore + lines.linesRead();
    return true;
  }
  char* line = nullptr;
  size_t length = 0;
  size_t fields = 0;
  if (!readRecord(line, length, fields)) return false;
  if (fields != numColumns) throwColumnCount(line, length);
  return true;
}

bool CSVReader::readRecord(char*& line, size_t& length, size_t& fields) {
  if (!lines.readFilledLine(line, length)) return false;
  recordLine = linesBefore + lines.linesRead();
  fields = splitter.split(line, length);
  while (splitter.endsInQuotes()) {
    const size_t cut = length;
    if (!lines.extendLine(line, length)) {
      throw DatabaseException("Quoted field on line %llu of %s is not closed before the end of the file",
                              static_cast<unsigned long long>(recordLine), fileName.c_str());
    }
    fields = splitter.resume(line, cut, length);
  }
  return true;
}

std::string CSVReader::where() const {
  return string_format(", line %llu of %s", static_cast<unsigned long long>(recordLine), fileName.c_str());
}

void* CSVReader::getPointer(unsigned short col) {
  if (!rowView.hasRow()) return nullptr;
  if (col >= numColumns || isNull(col)) return nullptr;
  if (types[col] == STRING) {
    // A text not yet copied into the row is read where the line holds it.
    return textsCopiedAt != rowSerial ? splitter.field(col).text : rowView.getPointer(col);
  }
  // Integers, booleans and dates were stored by nextRow.
  if (isFloating(types[col])) convertNumber(numberColumn(col));
  return start() + rowOffsets[col];
}

const char* CSVReader::getText(unsigned short column, size_t& length) const {
  const LineSplitter::Field& field = splitter.field(column);
  length = field.length;
  return field.text;
}

NodeIterator& CSVReader::getRowView() {
  if (rowView.hasRow()) copyTexts();
  return getFixedView();
}

NodeIterator& CSVReader::getFixedView() {
  if (rowView.hasRow()) {
    for (const NumberColumn& number : numberColumns) convertNumber(number);
  }
  return rowView;
}

void CSVReader::getTexts(const char** texts, size_t* bytes) const {
  for (const unsigned short column : textColumns) {
    const LineSplitter::Field& field = splitter.field(column);
    *texts++ = field.text;
    *bytes++ = field.length + 1;
  }
}

void CSVReader::getTexts(RowBatch::Text* texts) const {
  for (const unsigned short column : textColumns) {
    const LineSplitter::Field& field = splitter.field(column);
    *texts++ = {field.text, field.length + 1};
  }
}

void CSVReader::setColumnNames(std::vector<std::string> names) { columnNames = std::move(names); }

bool CSVReader::isNull(unsigned short column) const { return config.isNull(rowView.current, column); }

void CSVReader::convertNumber(const NumberColumn& number) {
  if (convertedAt[number.column] == rowSerial || isNull(number.column)) return;
  convertedAt[number.column] = rowSerial;
  const LineSplitter::Field& field = splitter.field(number.column);
  char* const dest = start() + number.offset;
  // The usual short decimal of a DOUBLE column is read here; the rest as
  // any text is.
  double value = 0;
  if (number.isDouble && short_number::readDouble(field.text, field.length, value)) {
    unaligned::store<double>(dest, value);
    return;
  }
  copyStringValueToBuffer(field.text, field.length, dest, number.isDouble ? DOUBLE : FLOAT);
}

void CSVReader::throwColumnCount(char* line, size_t length) {
  // Splitting replaced the separators by NULs; put them back so the
  // message shows the whole line.
  std::replace(line, line + length, '\0', splitter.separator());
  throw DatabaseException("Incorrect number of columns in input file %s, line: %s%s", fileName.c_str(),
                          quotedText(line, length).c_str(), where().c_str());
}

void CSVReader::skipValues(unsigned short column) {
  for (CheckedColumn& checked : checkedColumns) checked.skipped = checked.skipped || checked.column == column;
}

void CSVReader::storeChecked(const CheckedColumn& checked, char* row) {
  const unsigned short column = checked.column;
  const LineSplitter::Field& field = splitter.field(column);
  char* const dest = row + checked.offset;
  uint64_t digits = 0;
  if (short_number::readDigits(field.text, field.length, checked.plainDigits, digits)) {
    if (!checked.skipped) storeInteger(dest, digits, checked.width);
    return;
  }
  ConvertedValueCache& values = checkedValues[column];
  if (values.copy(field.text, field.length, dest)) return;
  convertChecked(column, dest);
  values.add(field.text, field.length, dest);
}

void CSVReader::convertChecked(unsigned short column, char* dest) {
  const LineSplitter::Field& field = splitter.field(column);
  const DATA_TYPE type = types[column];
  if (type != LONG && type != INT && type != SHORT) {
    if (field.length == 0) return storeEmpty(column, dest);
    copyStringValueToBuffer(field.text, field.length, dest, type);
    return;
  }
  if (copyIntegerInRange(field.text, field.length, dest, type)) return;
  const std::string name =
      column < columnNames.size() ? columnNames[column] : string_format("%d", static_cast<int>(column) + 1);
  throw DatabaseException("Value %s does not fit column %s of type %s", numberText(field.text).c_str(),
                          name.c_str(), getTypeKeyword(type));
}

void CSVReader::storeEmpty(unsigned short column, char* dest) {
  try {
    copyStringValueToBuffer("", 0, dest, types[column]);
  } catch (const DatabaseException& e) {
    throw DatabaseException("%s; declare the column with null to load missing values", e.what());
  }
}

bool CSVReader::isMissing(unsigned short column) const {
  const LineSplitter::Field& field = splitter.field(column);
  const DATA_TYPE type = types[column];
  if (field.length == 0) return type != STRING || !splitter.quoted(column);
  return isNumeric(type) && !readsNumber(field.text, type);
}

void CSVReader::storeNulls(char* row) {
  std::memset(row, 0, config.nullBytes);
  for (const unsigned short column : nullableColumns) {
    if (!isMissing(column)) continue;
    config.setNull(row, column);
    // A NULL keeps zero bytes; a text's empty field is its empty text.
    if (types[column] != STRING) std::memset(row + rowOffsets[column], 0, getTypeWidth(types[column]));
  }
}

void CSVReader::storeRow() {
  splitter.finishFields();
  // The stored row is measured first, so the row buffer is sized once and
  // never grows while the row is written.
  size_t rowLength = config.fixedWidth + textColumns.size();
  for (const unsigned short column : textColumns) rowLength += splitter.field(column).length;
  if (rowLength > MAX_ROW_BYTES) {
    throw DatabaseException("Row of %d bytes is too long: a stored row holds at most %d bytes",
                            static_cast<int>(std::min<size_t>(rowLength, INT32_MAX)),
                            static_cast<int>(MAX_ROW_BYTES));
  }
  reset();
  reserve(rowLength);
  // Integers, booleans and dates are converted now, in column order, so
  // that a bad value is refused by nextRow; floating-point numbers wait and
  // texts stay in the line.
  char* const row = start();
  position = row + rowLength;
  if (config.nullBytes != 0) storeNulls(row);
  for (const CheckedColumn& checked : checkedColumns) {
    if (!config.isNull(row, checked.column)) storeChecked(checked, row);
  }
  ++rowSerial;
  rowView.reset(row, position, &config, 0);
}

void CSVReader::copyTexts() {
  if (textsCopiedAt == rowSerial) return;
  char* text = start() + config.fixedWidth;
  for (const unsigned short column : textColumns) {
    const LineSplitter::Field& field = splitter.field(column);
    text_bytes::copy(text, field.text, field.length + 1);
    text += field.length + 1;
  }
  textsCopiedAt = rowSerial;
}
