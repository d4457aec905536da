#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/buffer.h"
#include "storage/text_source.h"

// Hands out the lines of a file one by one, in place in a buffer of file
// data read in large blocks: the text of the file as TextSource reads it, so
// a gzip file's lines are those of the text it holds. A line ends at a line feed, at a carriage
// return and a line feed, or at the end of the file; it is handed out
// NUL-terminated without its line end, writable, and valid until the next
// call that reads, extends or takes a line. Lines of any length are read whole: the
// buffer grows to hold the longest. kSlackBytes readable bytes follow the
// unread data, so a reader of the lines may load whole chunks that run past
// a line's end. Reading checks for an interrupt before each block, and a
// read that a signal interrupts is retried.
class LineReader {
 public:
  // Readable bytes kept after the file data: the terminator of a last line
  // without line feed, and room for chunks loaded past a line's end.
  static constexpr size_t kSlackBytes = 64;

  // Opens `fileName` to read it from its start. Throws DatabaseException
  // "Unable to read file %s" when it cannot be opened.
  void open(const std::string& fileName);
  // Reads the first `bytes` bytes of `text` as a whole file, in place: the
  // reader takes the block of `text` and gives it its own block, of any
  // size, in return. `text` must hold kSlackBytes bytes past `bytes`.
  void openText(Buffer& text, size_t bytes);
  // Gives the block that openText took back to `text`, in return for the
  // one it gave, its bytes as reading left them: the lines handed out stay
  // valid in `text`. The reader then reads nothing until opened again.
  void closeText(Buffer& text);
  // Right after open(): passes over the first `bytes` bytes of the text,
  // which no line then holds (fewer when the text is shorter).
  void skip(uint64_t bytes);
  // The next line and its length; false when the file has no more lines.
  // Throws DatabaseException "Unable to read file %s" when the file cannot
  // be read, and TextSource's refusals of its format or data.
  bool readLine(char*& line, size_t& length);
  // readLine, skipping empty lines.
  bool readFilledLine(char*& line, size_t& length);
  // Joins the next line to the line readLine handed out last, with the
  // line end between them as the file has it, and hands out the whole (at
  // a new address when the buffer moved). False, with nothing changed, when
  // that line ended the file or came from takeLine. The bytes of the line
  // must be as they were handed out.
  bool extendLine(char*& line, size_t& length);

  // The data read from the file and not yet handed out, for a caller that
  // cuts the next line itself; kSlackBytes bytes past its end are readable.
  char* unread() const { return buffer_.start() + lineBegin_; }
  size_t unreadBytes() const { return dataEnd_ - lineBegin_; }
  // Takes the first `bytes` bytes of the unread data, one line with its
  // line feed, which the caller has cut itself, as the next line.
  void takeLine(size_t bytes) {
    lineBegin_ += bytes;
    ++linesRead_;
    lineEndedAtFeed_ = false;
  }
  // Lines handed out or taken since open(), empty lines included.
  uint64_t linesRead() const { return linesRead_; }
  // Bytes of the text before the first unread byte: where the next line
  // starts, counted from the start of the text.
  uint64_t offset() const { return textBefore_ + lineBegin_; }
  // Whether the text is inflated from a compressed file; known once a
  // line has been read.
  bool compressed() const { return source_.compressed(); }

 private:
  // Appends the next block of the file after the unread data, which moves
  // to the start of the buffer; grows the buffer when the unread data fills
  // it.
  void readBlock();
  // Hands out the unread data up to its first line feed at least `skip`
  // bytes into it, or up to the end of the file, as the next line.
  bool cutLine(size_t skip, char*& line, size_t& length);

  TextSource source_;
  Buffer buffer_;
  size_t lineBegin_ = 0;  // offset in buffer_ of the first unread byte
  size_t dataEnd_ = 0;    // offset in buffer_ just past the file data read
  bool endOfFile_ = true; // the file has no more data to read
  size_t lineStart_ = 0;         // offset in buffer_ of the line readLine handed out last
  bool lineEndedAtFeed_ = false; // that line was cut at a line feed
  bool droppedReturn_ = false;   // and a carriage return before the feed was cut off
  uint64_t linesRead_ = 0;
  uint64_t textBefore_ = 0;  // bytes of the text before the buffer's start
};
