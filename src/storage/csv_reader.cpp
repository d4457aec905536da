#include "storage/csv_reader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "errors/database_exception.h"
#include "errors/interruption.h"
#include "storage/bit_count.h"
#include "storage/text_bytes.h"

namespace {

// File data is read in blocks of at least this size.
constexpr size_t kReadBlockBytes = 256 * 1024;
// Bytes a short line may have, line feed included, to be cut in one step by
// splitShortLine.
constexpr size_t kShortLineBytes = 64;
// Bytes kept free in the line buffer after the file data: the terminator of
// a last line without line feed, and room for the splitters to read whole
// chunks even when they run past the data.
constexpr size_t kSlackBytes = kShortLineBytes;

const char* const kUnreadable = "Unable to read file %s";

// Fields of a line: one more than its commas outside double quotes.
size_t countFields(const char* line, size_t length) {
  size_t fields = 1;
  bool quoted = false;
  for (const char* c = line; c != line + length; ++c) {
    if (*c == '"') quoted = !quoted;
    if (*c == ',' && !quoted) ++fields;
  }
  return fields;
}

// Unquotes a field that starts with a double quote: its first and last
// characters go, and a doubled quote inside stands for one. A lone quote
// leaves an empty text.
void stripQuotes(char*& text, size_t& length) {
  if (length == 0 || *text != '"') return;
  if (length == 1) {
    *text = '\0';
    length = 0;
    return;
  }
  ++text;
  length -= 2;
  const char* in = text;
  const char* const end = text + length;
  char* out = text;
  while (in != end) {
    if (in[0] == '"' && in + 1 != end && in[1] == '"') ++in;
    *out++ = *in++;
  }
  length = static_cast<size_t>(out - text);
  text[length] = '\0';
}

// Drops the carriage return of a CR LF line end from a line of `length`
// bytes, which then ends at the new length.
void dropCarriageReturn(char* line, size_t& length) {
  if (length != 0 && line[length - 1] == '\r') line[--length] = '\0';
}

// Bit i of `commas` (`quotes`, `nuls`) is set when byte i of the 16 bytes
// at `c` is a comma (a double quote, a NUL). All 16 bytes must be readable.
void separatorMasks(const char* c, unsigned& commas, unsigned& quotes, unsigned& nuls) {
#if defined(__SSE2__)
  const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  commas = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(','))));
  quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"'))));
  nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())));
#else
  commas = 0;
  quotes = 0;
  nuls = 0;
  for (unsigned i = 0; i < 16; ++i) {
    if (c[i] == ',') commas |= 1u << i;
    if (c[i] == '"') quotes |= 1u << i;
    if (c[i] == '\0') nuls |= 1u << i;
  }
#endif
}

// Bit i of `commas` (`newlines`, `special`) is set when byte i of the 64
// bytes at `c` is a comma (a line feed, a double quote or NUL). All 64 bytes
// must be readable.
void shortLineMasks(const char* c, uint64_t& commas, uint64_t& newlines, uint64_t& special) {
  commas = 0;
  newlines = 0;
  special = 0;
#if defined(__SSE2__)
  for (unsigned part = 0; part < kShortLineBytes / 16; ++part) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * part));
    const auto mask = [](__m128i bytes) {
      return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)));
    };
    commas |= mask(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(','))) << (16 * part);
    newlines |= mask(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))) << (16 * part);
    special |= mask(_mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')), _mm_cmpeq_epi8(chunk, _mm_setzero_si128())))
               << (16 * part);
  }
#else
  for (unsigned i = 0; i < kShortLineBytes; ++i) {
    if (c[i] == ',') commas |= uint64_t{1} << i;
    if (c[i] == '\n') newlines |= uint64_t{1} << i;
    if (c[i] == '"' || c[i] == '\0') special |= uint64_t{1} << i;
  }
#endif
}

// The low `bytes` bytes of a word set, for 0 to 8 bytes.
constexpr uint64_t lowBytes(size_t bytes) { return bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1; }

// A boolean word as a little-endian word of up to 8 bytes, zero past its
// length.
constexpr uint64_t wordOf(const char* text) {
  uint64_t word = 0;
  for (unsigned i = 0; text[i] != '\0'; ++i) {
    word |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  }
  return word;
}
constexpr uint64_t kTrueWords[] = {wordOf("true"), wordOf("True"), wordOf("TRUE"), wordOf("1")};
constexpr uint64_t kFalseWords[] = {wordOf("false"), wordOf("False"), wordOf("FALSE"), wordOf("0")};

// The 1 or 4 to 7 bytes of a field as a little-endian word, zero past its
// length, read without touching a byte after the field: that byte is often
// the terminator the splitter has just stored, and a wider read would wait
// for the store to complete. False for other lengths.
bool fieldWord(const char* text, size_t length, uint64_t& word) {
  if (length == 1) {
    word = static_cast<unsigned char>(text[0]);
    return true;
  }
  if (length < 4 || length > 7) return false;
  uint32_t head = 0;
  uint32_t tail = 0;
  std::memcpy(&head, text, sizeof head);
  std::memcpy(&tail, text + length - sizeof tail, sizeof tail);
  // The two reads overlap; their shared bytes are equal.
  word = uint64_t{head} | uint64_t{tail} << (8 * (length - sizeof tail));
  return true;
}

// Reads a boolean field of the line without a branch on its value, so
// random true and false cost no mispredicted jump: the field's bytes, read
// as one word, are compared with every accepted word. False for any other
// text, which the general conversion then refuses with its message.
bool readBoolField(const char* text, size_t length, char* dest) {
  if constexpr (std::endian::native != std::endian::little) return false;
  uint64_t word = 0;
  if (!fieldWord(text, length, word)) return false;
  bool isTrue = false;
  bool isFalse = false;
  for (const uint64_t accepted : kTrueWords) isTrue |= word == accepted;
  for (const uint64_t accepted : kFalseWords) isFalse |= word == accepted;
  if (!isTrue && !isFalse) return false;
  *dest = static_cast<char>(isTrue);
  return true;
}

// Converts a date field of the plain form YYYY-MM-DD into its stored day
// number at `dest`; false, with nothing written, for any other field, which
// the general conversion then reads or refuses with its message.
bool readDateField(const char* text, size_t length, char* dest) {
  unsigned short days = 0;
  if (!plainDateToInt(text, length, days)) return false;
  std::memcpy(dest, &days, sizeof days);
  return true;
}

// Reads a number field of at most 8 characters made of digits and at most
// one decimal point (at least one digit), as its digits without the point
// (`mantissa`) and the count of digits after the point (`scale`). The
// field's bytes are handled as one word (the line buffer's slack makes 8
// bytes readable): the point found and cut out, the digits checked and
// combined by a few multiplications, with no branch on the number's
// length or digits. False for any other field.
bool readShortDecimal(const char* text, size_t length, uint64_t& mantissa, int& scale, bool& hasPoint) {
  if constexpr (std::endian::native != std::endian::little) return false;
  if (length == 0 || length > 8) return false;
  uint64_t word = 0;
  std::memcpy(&word, text, sizeof word);
  word &= lowBytes(length);
  // Bytes equal to '.' get their high bit set, exactly (no carries).
  constexpr uint64_t kLow7 = 0x7F7F'7F7F'7F7F'7F7FULL;
  const uint64_t points = word ^ 0x2E2E'2E2E'2E2E'2E2EULL;
  const uint64_t isPoint = ~(((points & kLow7) + kLow7) | points | kLow7);
  const size_t point = std::min<size_t>(static_cast<size_t>(std::countr_zero(isPoint)) / 8, length);
  hasPoint = point < length;
  const size_t digits = length - (hasPoint ? 1 : 0);
  const uint64_t joined = (word & lowBytes(point)) | ((word >> 8) & ~lowBytes(point));
  const uint64_t values = (joined ^ 0x3030'3030'3030'3030ULL) & lowBytes(digits);
  if (digits == 0 || !text_bytes::allDigitValues(values)) return false;
  // Eight digit values, the first most significant, led by zeros.
  uint64_t v = values << (8 * (8 - digits));
  v = v * 10 + (v >> 8);
  constexpr uint64_t kPairs = 0x0000'00FF'0000'00FFULL;
  v = (((v & kPairs) * 0x000F'4240'0000'0064ULL) + (((v >> 16) & kPairs) * 0x0000'2710'0000'0001ULL)) >> 32;
  mantissa = v;
  scale = static_cast<int>(hasPoint ? length - 1 - point : 0);
  return true;
}

// Converts a number field of the common short form (see readShortDecimal)
// into its stored value at `dest`, the value the general conversion gives;
// false, with nothing written, for any other field and for an integer
// field with a point (read by the general conversion up to the point).
bool readNumberField(const char* text, size_t length, char* dest, DATA_TYPE type) {
  uint64_t mantissa = 0;
  int scale = 0;
  bool hasPoint = false;
  if (!readShortDecimal(text, length, mantissa, scale, hasPoint)) return false;
  const auto store = [dest](auto value) { std::memcpy(dest, &value, sizeof value); };
  switch (type) {
    case DOUBLE:
      store(exactDecimal(mantissa, scale));
      return true;
    case FLOAT:
      store(static_cast<float>(exactDecimal(mantissa, scale)));
      return true;
    case LONG:
      if (hasPoint) return false;
      store(static_cast<int64_t>(mantissa));
      return true;
    case INT:
      if (hasPoint) return false;
      store(static_cast<int32_t>(mantissa));
      return true;
    case SHORT:
      if (hasPoint) return false;
      store(static_cast<int16_t>(mantissa));
      return true;
    default:
      return false;
  }
}

}  // namespace

CSVReader::CSVReader() = default;

void CSVReader::init(std::string name, std::vector<DATA_TYPE> columnTypes) {
  types = std::move(columnTypes);
  buildLayout();
  openFile(std::move(name));
}

void CSVReader::init(std::string name) {
  openFile(std::move(name));
  types.assign(headerFields, STRING);
  buildLayout();
}

void CSVReader::buildLayout() {
  config.init(types);
  numColumns = config.numColumns;
  rowOffsets.assign(numColumns, 0);
  for (unsigned short column = 0; column < numColumns; ++column) {
    const unsigned short position = config.positions[column];
    if (position < config.numFixed) rowOffsets[column] = config.offsets[position];
  }
  numberColumns.clear();
  textColumns.clear();
  checkedColumns.clear();
  for (unsigned short column = 0; column < numColumns; ++column) {
    if (isNumeric(types[column])) {
      numberColumns.push_back(column);
    } else if (types[column] == STRING) {
      textColumns.push_back(column);
    } else {
      checkedColumns.push_back(column);
    }
  }
  convertedAt.assign(numColumns, 0);
  fields.assign(numColumns, Field{nullptr, 0});
  rowView = NodeIterator();
}

void CSVReader::openFile(std::string name) {
  fileName = std::move(name);
  if (!input.open(fileName)) throw DatabaseException(kUnreadable, fileName.c_str());
  while (lineBuffer.capacity() < kReadBlockBytes) lineBuffer.increaseBuffer();
  lineBegin = 0;
  dataEnd = 0;
  linesRead = 0;
  endOfFile = false;
  rowView = NodeIterator();
  char* header = nullptr;
  size_t headerLength = 0;
  finished = !readFilledLine(header, headerLength);
  headerFields = finished ? 0 : countFields(header, headerLength);
}

bool CSVReader::readFilledLine(char*& line, size_t& length) {
  do {
    if (!readLine(line, length)) return false;
  } while (length == 0);
  return true;
}

bool CSVReader::nextRow() {
  if (finished) return false;
  // Reading ends at the end of the file and at the first failure:
  // `finished` stays set unless a row is stored.
  finished = true;
  char* line = nullptr;
  size_t length = 0;
  if (!splitShortLine()) {
    if (!readFilledLine(line, length)) return false;
    if (splitLine(line, length) != numColumns) throwColumnCount(line, length);
  }
  try {
    storeRow();
  } catch (const DatabaseException& e) {
    throw DatabaseException("%s%s", e.what(), where().c_str());
  }
  finished = false;
  return true;
}

std::string CSVReader::where() const {
  return string_format(", line %llu of %s", static_cast<unsigned long long>(linesRead), fileName.c_str());
}

void* CSVReader::getPointer(unsigned short col) {
  if (!rowView.hasRow()) return nullptr;
  if (col >= numColumns) return rowView.getPointer(col);
  if (types[col] == STRING) {
    // A text not yet copied into the row is read where the line holds it.
    return textsCopiedAt != rowSerial ? fields[col].text : rowView.getPointer(col);
  }
  convertNumber(col);
  return start() + rowOffsets[col];
}

const char* CSVReader::getText(unsigned short column, size_t& length) const {
  length = fields[column].length;
  return fields[column].text;
}

NodeIterator& CSVReader::getRowView() {
  if (rowView.hasRow()) copyTexts();
  return getFixedView();
}

NodeIterator& CSVReader::getFixedView() {
  if (rowView.hasRow()) {
    for (const unsigned short column : numberColumns) convertNumber(column);
  }
  return rowView;
}

void CSVReader::getTexts(const char** texts, size_t* bytes) const {
  for (const unsigned short column : textColumns) {
    *texts++ = fields[column].text;
    *bytes++ = fields[column].length + 1;
  }
}

void CSVReader::convertNumber(unsigned short column) {
  if (!isNumeric(types[column]) || convertedAt[column] == rowSerial) return;
  const Field& field = fields[column];
  char* const target = start() + rowOffsets[column];
  if (!readNumberField(field.text, field.length, target, types[column])) {
    copyStringValueToBuffer(field.text, field.length, target, types[column]);
  }
  convertedAt[column] = rowSerial;
}

bool CSVReader::readLine(char*& line, size_t& length) {
  size_t scanned = lineBegin;
  for (;;) {
    char* const base = lineBuffer.start();
    auto* const newline = static_cast<char*>(std::memchr(base + scanned, '\n', dataEnd - scanned));
    if (newline != nullptr) {
      *newline = '\0';
      line = base + lineBegin;
      length = static_cast<size_t>(newline - line);
      lineBegin = static_cast<size_t>(newline - base) + 1;
      dropCarriageReturn(line, length);
      ++linesRead;
      return true;
    }
    if (endOfFile) {
      if (lineBegin == dataEnd) return false;
      // The last line has no line feed; readBlock keeps bytes free after
      // the data for its terminator.
      base[dataEnd] = '\0';
      line = base + lineBegin;
      length = dataEnd - lineBegin;
      lineBegin = dataEnd;
      dropCarriageReturn(line, length);
      ++linesRead;
      return true;
    }
    // readBlock moves the unread data to the start of the block.
    scanned = dataEnd - lineBegin;
    readBlock();
  }
}

void CSVReader::readBlock() {
  char* base = lineBuffer.start();
  const size_t unread = dataEnd - lineBegin;
  if (lineBegin != 0) std::memmove(base, base + lineBegin, unread);
  lineBegin = 0;
  dataEnd = unread;
  if (dataEnd + kSlackBytes >= lineBuffer.capacity()) base = lineBuffer.increaseBuffer();
  const size_t room = lineBuffer.capacity() - kSlackBytes - dataEnd;
  // A file that never ends (a device, a pipe) is read block by block until
  // memory runs out or the host interrupts.
  checkInterrupt();
  size_t received = 0;
  if (!input.read(base + dataEnd, room, received)) throw DatabaseException(kUnreadable, fileName.c_str());
  dataEnd += received;
  if (received < room) endOfFile = true;
}

size_t CSVReader::splitLine(char* line, size_t length) {
  Field* const out = fields.data();
  char* fieldStart = line;
  size_t count = 1;
  bool quoted = false;
  lineHasQuotes = false;
  unsigned anyNul = 0;
  char* const end = line + length;
  // Ends the field at a comma outside quotes.
  const auto cut = [&](char* comma) {
    *comma = '\0';
    if (count <= numColumns) out[count - 1] = {fieldStart, static_cast<size_t>(comma - fieldStart)};
    fieldStart = comma + 1;
    ++count;
  };
  // Sixteen bytes at a time: the separators of a chunk come as bit masks.
  // The last chunk may run past the line (readBlock leaves slack after the
  // data), so its masks are cut to the bytes of the line. Outside quotes a
  // chunk without a quote is only commas, taken in a tight loop.
  for (char* c = line; c < end; c += 16) {
    unsigned commas = 0;
    unsigned quotes = 0;
    unsigned nuls = 0;
    separatorMasks(c, commas, quotes, nuls);
    if (end - c < 16) {
      const unsigned inLine = (1u << (end - c)) - 1;
      commas &= inLine;
      quotes &= inLine;
      nuls &= inLine;
    }
    anyNul |= nuls;
    if (quotes == 0 && !quoted) {
      for (; commas != 0; commas &= commas - 1) cut(c + std::countr_zero(commas));
      continue;
    }
    lineHasQuotes = true;
    for (unsigned mask = commas | quotes; mask != 0; mask &= mask - 1) {
      char* const separator = c + std::countr_zero(mask);
      if (*separator == '"') {
        quoted = !quoted;
      } else if (!quoted) {
        cut(separator);
      }
    }
  }
  if (count <= numColumns) out[count - 1] = {fieldStart, static_cast<size_t>(end - fieldStart)};
  lineHasNuls = anyNul != 0;
  return count;
}

bool CSVReader::splitShortLine() {
  char* const line = lineBuffer.start() + lineBegin;
  const size_t available = dataEnd - lineBegin;
  uint64_t commas = 0;
  uint64_t newlines = 0;
  uint64_t special = 0;
  shortLineMasks(line, commas, newlines, special);
  if (available < kShortLineBytes) newlines &= (uint64_t{1} << available) - 1;
  if (newlines == 0) return false;
  const unsigned lineFeed = static_cast<unsigned>(std::countr_zero(newlines));
  // A CR LF line end is cut before its carriage return.
  const unsigned length = lineFeed != 0 && line[lineFeed - 1] == '\r' ? lineFeed - 1 : lineFeed;
  const uint64_t inLine = (uint64_t{1} << length) - 1;
  commas &= inLine;
  if (length == 0 || (special & inLine) != 0 || countOnes(commas) + 1 != numColumns) return false;
  // Exactly one comma between two fields: the loop runs the same number of
  // times for every line.
  Field* const out = fields.data();
  char* fieldStart = line;
  for (unsigned short column = 0; column + 1 < numColumns; ++column) {
    char* const comma = line + std::countr_zero(commas);
    commas &= commas - 1;
    *comma = '\0';
    out[column] = {fieldStart, static_cast<size_t>(comma - fieldStart)};
    fieldStart = comma + 1;
  }
  line[length] = '\0';
  out[numColumns - 1] = {fieldStart, static_cast<size_t>(line + length - fieldStart)};
  lineBegin += lineFeed + 1;
  ++linesRead;
  lineHasQuotes = false;
  lineHasNuls = false;
  return true;
}

void CSVReader::throwColumnCount(char* line, size_t length) {
  // Splitting replaced the separating commas by NULs; put them back so the
  // message shows the whole line.
  std::replace(line, line + length, '\0', ',');
  throw DatabaseException("Incorrect number of columns in input file %s, line: %s", fileName.c_str(), line);
}

void CSVReader::storeRow() {
  // Only a line with a double quote can hold a quoted field.
  if (lineHasQuotes) {
    for (Field& field : fields) stripQuotes(field.text, field.length);
  }
  // A stored text ends at its first NUL: a NUL byte read from the file ends
  // the text there, so that the row holds each text whole and in its place.
  if (lineHasNuls) {
    for (const unsigned short column : textColumns) fields[column].length = std::strlen(fields[column].text);
  }
  // The stored row is measured first, so the row buffer is sized once and
  // never grows while the row is written.
  size_t rowLength = config.fixedWidth + textColumns.size();
  for (const unsigned short column : textColumns) rowLength += fields[column].length;
  if (rowLength > MAX_ROW_BYTES) {
    throw DatabaseException("Row of %d bytes is too long: a stored row holds at most %d bytes",
                            static_cast<int>(std::min<size_t>(rowLength, INT32_MAX)),
                            static_cast<int>(MAX_ROW_BYTES));
  }
  reset();
  reserve(rowLength);
  // Booleans and dates are converted now, in column order, so that a bad
  // value is refused by nextRow; numbers wait and texts stay in the line.
  char* const row = start();
  position = row + rowLength;
  for (const unsigned short column : checkedColumns) {
    const Field& field = fields[column];
    char* const target = row + rowOffsets[column];
    if (types[column] == BOOL && readBoolField(field.text, field.length, target)) continue;
    if (types[column] == DATE && readDateField(field.text, field.length, target)) continue;
    copyStringValueToBuffer(field.text, field.length, target, types[column]);
  }
  ++rowSerial;
  rowView.reset(row, position, &config, 0);
}

void CSVReader::copyTexts() {
  if (textsCopiedAt == rowSerial) return;
  char* text = start() + config.fixedWidth;
  for (const unsigned short column : textColumns) {
    const Field& field = fields[column];
    text_bytes::copy(text, field.text, field.length + 1);
    text += field.length + 1;
  }
  textsCopiedAt = rowSerial;
}
