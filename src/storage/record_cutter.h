#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/buffer.h"
#include "storage/text_source.h"

// Cuts the text of a CSV file into batches of whole records, which threads
// can then split and convert apart from each other. A record ends where
// LineSplitter and LineReader end it: at a line feed outside a quoted
// field, a quoted field being one that starts with a double quote and runs
// to its closing quote over any line ends (a doubled double quote inside
// stands for one). The header, the first record that is not an empty line,
// is skipped with the empty lines before it. Reads the file as TextSource
// does; one thread at a time.
class RecordCutter {
 public:
  // A batch holds the whole records of the text read at once, about
  // kBatchBytes, and at most kBatchRecords of them.
  static constexpr size_t kBatchBytes = 128 * 1024;
  static constexpr size_t kBatchRecords = 8192;

  // Opens `fileName`, whose fields are separated by `separator`, to cut it
  // from its start. Throws as TextSource::open does.
  void open(const std::string& fileName, char separator);
  // Hands the next records to `text`, followed by LineReader's slack, and
  // sets how many bytes they take and how many lines of the file come
  // before them; false at the end of the file. The records usually come
  // in the block they were read into, which `text` then holds, its own
  // block taken for the next read. The file's last record may
  // lack its line feed, or run to the end of the file in an open quoted
  // field. Throws TextSource's failures, and CSVReader's message for a
  // header that a quoted field leaves open.
  bool cut(Buffer& text, size_t& bytes, uint64_t& linesBefore);

 private:
  // Where a scan stands within a record, as LineSplitter::Quoting.
  enum class State : unsigned char { kFieldStart, kPlain, kQuoted, kQuoteSeen };

  // Scans on from scan_ for the end of the record that starts at begin_;
  // answers its offset from begin_ just past the line feed, or 0 when the
  // data read ends first (the scan then resumes there after fill()).
  size_t findRecordEnd();
  // Takes records from scan_ on, where no quoted field is open, as long
  // as they hold no double quote: a 64-byte chunk at a time, each line
  // feed ending one. Counts them into `records`, the batch's end and lines
  // into `cutAt` and `cutLines`; true once the batch is full. Stops before
  // a record with a double quote and at the end of the data read.
  bool cutPlainRecords(size_t& records, size_t& cutAt, uint64_t& cutLines);
  // Moves the first `bytes` bytes of the unread data, `lines` lines, into
  // `text`: by handing over the block when they start it and little data
  // follows them, else by a copy.
  void handOver(Buffer& text, size_t bytes, uint64_t lines);
  // Scans a quoted field from `p` to its closing quote or to `end`.
  const char* skipQuoted(const char* p, const char* end);
  // Reads another block after the data, moving the unread data to the
  // start of the buffer; false at the end of the file.
  bool fill();
  // Skips the header and the empty lines before it.
  void skipHeader();
  // Drops the first `bytes` bytes of the unread data, `lines` lines.
  void consume(size_t bytes, uint64_t lines);

  TextSource source_;
  std::string fileName_;
  Buffer data_;
  char separator_ = ',';
  size_t begin_ = 0;          // offset of the first byte not yet cut
  size_t end_ = 0;            // offset just past the data read
  size_t scan_ = 0;           // offset from begin_ where the scan resumes
  uint64_t scanLines_ = 0;    // line feeds between begin_ and the scan
  uint64_t lines_ = 0;        // lines of the file before begin_
  State state_ = State::kFieldStart;
  bool endOfFile_ = false;
  bool headerSkipped_ = false;
};
