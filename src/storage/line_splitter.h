#pragma once

#include <cstddef>
#include <vector>

// Cuts lines of separated fields in place, as RFC 4180 reads them, with a
// one-byte separator that is a comma unless set otherwise. A field that
// starts with a double quote is quoted: separators and line breaks up to
// its closing quote belong to it, and a doubled double quote inside stands
// for one. A double quote anywhere else is an ordinary character. Every
// separator that ends a field is overwritten by the NUL that terminates
// it. The splitter records the first `columns` fields of the line it cut
// last, and whether that line held a double quote or a NUL byte; the fields
// point into the line and are valid while its bytes are. finishFields()
// then turns them into the values they stand for.
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

  // Where a reading of a line stands: at a field's start, in an unquoted
  // field, in a quoted field, or just past a double quote in a quoted field
  // (which closed the field unless another double quote follows).
  enum class Quoting : unsigned char { kFieldStart, kPlain, kQuoted, kQuoteSeen };

  // Sets how many fields of a line are recorded.
  void setColumns(unsigned short columns);
  // Sets the byte that separates fields; it must not be a double quote, a
  // carriage return, a line feed or NUL.
  void setSeparator(char separator) { separator_ = separator; }
  char separator() const { return separator_; }

  // Cuts the NUL-terminated line of `length` bytes, recording its first
  // fields; answers how many fields it has so far. When the line ends
  // inside a quoted field (endsInQuotes), the field runs on into the next
  // line, and resume() goes on once it is joined.
  size_t split(char* line, size_t length);
  // Goes on cutting the line that split() or resume() cut last, now
  // `length` bytes at `line` (it may have moved, its first `cut` bytes as
  // they were left), from byte `cut`; answers the fields so far.
  size_t resume(char* line, size_t cut, size_t length);
  // The line cut last ends inside a quoted field.
  bool endsInQuotes() const { return endState_ == Quoting::kQuoted; }
  // Cuts the line at the start of `data` (`available` bytes, a line feed
  // ending the line, a carriage return before it dropped) when it is short
  // (a line feed within kShortLineBytes bytes), holds no double quote and
  // no NUL, and has exactly `columns` fields: the usual line, cut in one
  // step. Answers the bytes of the line with its line feed; 0, with nothing
  // changed, for any other line, which split() then takes.
  size_t splitShort(char* data, size_t available);
  // Unquotes the recorded fields of a line that held a double quote (a
  // quoted field loses its opening and closing quotes, a doubled double
  // quote inside stands for one, and text after the closing quote is kept)
  // and ends each field at its first NUL byte.
  void finishFields() {
    if (lineHasQuotes_ || lineHasNuls_) finishSpecialFields();
  }

  const Field& field(unsigned short column) const { return fields_[column]; }
  // Whether the recorded field of `column` was written in double quotes;
  // known once finishFields() has run.
  bool quoted(unsigned short column) const { return lineHasQuotes_ && quoted_[column] != 0; }

 private:
  void finishSpecialFields();
  // Records where cutting `line` (`length` bytes) stopped: `count` fields,
  // the last from `fieldStart` to the line's end, in `state`; answers
  // `count`.
  size_t stopAt(char* line, size_t length, size_t count, char* fieldStart, Quoting state);

  std::vector<Field> fields_;   // the first `columns` fields, one per column
  std::vector<unsigned char> quoted_;  // per field: quoted, set by finishFields on a line with quotes
  unsigned short columns_ = 0;
  char separator_ = ',';
  bool lineHasQuotes_ = false;  // the line cut last holds a double quote
  bool lineHasNuls_ = false;    // the line cut last holds a NUL byte
  // Where split() or resume() stopped:
  char* line_ = nullptr;        // the line
  size_t count_ = 1;            // its fields so far
  size_t fieldStart_ = 0;       // offset of its last field
  Quoting endState_ = Quoting::kFieldStart;
};
