#pragma once

#include <cstddef>
#include <vector>

// Cuts lines of comma-separated fields in place. A double quote toggles a
// quoted state in which commas belong to the field; every other comma ends
// a field and is overwritten by the NUL that terminates it. The splitter
// records the first `columns` fields of the line it cut last, and whether
// that line held a double quote or a NUL byte; the fields point into the
// line and are valid while its bytes are. finishFields() then turns them
// into the values they stand for.
//
// The splitters load the line in chunks of 16 or 64 bytes: kReadAheadBytes
// bytes after a line's start, and after its end, must be readable (their
// values do not matter).
class LineSplitter {
 public:
  struct Field {
    char* text;
    size_t length;
  };

  // Bytes a line may have, line feed included, to be cut by splitShort:
  // four 16-byte chunks, so its separators fit one 64-bit mask.
  static constexpr size_t kShortLineBytes = 64;
  static constexpr size_t kReadAheadBytes = kShortLineBytes;

  // Sets how many fields of a line are recorded.
  void setColumns(unsigned short columns);

  // Cuts the NUL-terminated line of `length` bytes, recording its first
  // fields; answers how many fields it has.
  size_t split(char* line, size_t length);
  // Cuts the line at the start of `data` (`available` bytes, a line feed
  // ending the line, a carriage return before it dropped) when it is short
  // (a line feed within kShortLineBytes bytes), holds no double quote and
  // no NUL, and has exactly `columns` fields: the usual line, cut in one
  // step. Answers the bytes of the line with its line feed; 0, with nothing
  // changed, for any other line, which split() then takes.
  size_t splitShort(char* data, size_t available);
  // Unquotes the recorded fields of a line that held a double quote (a
  // field starting with a double quote loses its first and last characters,
  // and a doubled double quote inside stands for one) and ends each field
  // at its first NUL byte.
  void finishFields() {
    if (lineHasQuotes_ || lineHasNuls_) finishSpecialFields();
  }

  const Field& field(unsigned short column) const { return fields_[column]; }

  // Fields of a line: one more than its commas outside double quotes.
  static size_t countFields(const char* line, size_t length);

 private:
  void finishSpecialFields();

  std::vector<Field> fields_;   // the first `columns` fields, one per column
  unsigned short columns_ = 0;
  bool lineHasQuotes_ = false;  // the line cut last holds a double quote
  bool lineHasNuls_ = false;    // the line cut last holds a NUL byte
};
