// Reading a file line by line in large blocks.

#include "storage/line_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "errors/interruption.h"

namespace {

// File data is read in blocks of at least this size: large enough that a
// read costs little per line, small enough to stay in the processor's
// caches while its lines are cut and converted.
constexpr size_t kReadBlockBytes = 256 * 1024;

// Drops the carriage return of a CR LF line end from a line of `length`
// bytes, which then ends at the new length; true when it did.
bool dropCarriageReturn(char* line, size_t& length) {
  if (length == 0 || line[length - 1] != '\r') return false;
  line[--length] = '\0';
  return true;
}

}  // namespace

void LineReader::open(const std::string& fileName) {
  source_.open(fileName);
  while (buffer_.capacity() < kReadBlockBytes) buffer_.increaseBuffer();
  lineBegin_ = 0;
  dataEnd_ = 0;
  linesRead_ = 0;
  textBefore_ = 0;
  endOfFile_ = false;
  lineEndedAtFeed_ = false;
}

void LineReader::skip(uint64_t bytes) {
  const uint64_t passed = source_.skip(bytes);
  textBefore_ += passed;
  bytes -= passed;
  while (bytes != 0 && !endOfFile_) {
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(bytes, buffer_.capacity() - kSlackBytes));
    checkInterrupt();
    const size_t received = source_.read(buffer_.start(), wanted);
    textBefore_ += received;
    bytes -= received;
    if (received < wanted) endOfFile_ = true;
  }
}

void LineReader::openText(Buffer& text, size_t bytes) {
  std::swap(buffer_.location, text.location);
  buffer_.position = buffer_.start() + bytes;
  text.reset();
  lineBegin_ = 0;
  dataEnd_ = bytes;
  linesRead_ = 0;
  textBefore_ = 0;
  endOfFile_ = true;
  lineEndedAtFeed_ = false;
}

void LineReader::closeText(Buffer& text) {
  std::swap(buffer_.location, text.location);
  text.position = text.start() + dataEnd_;
  buffer_.reset();
  lineBegin_ = 0;
  dataEnd_ = 0;
  endOfFile_ = true;
}

bool LineReader::readFilledLine(char*& line, size_t& length) {
  do {
    if (!readLine(line, length)) return false;
  } while (length == 0);
  return true;
}

bool LineReader::readLine(char*& line, size_t& length) { return cutLine(0, line, length); }

bool LineReader::extendLine(char*& line, size_t& length) {
  if (!lineEndedAtFeed_) return false;
  // The line's end goes back into the data, which is unread again from the
  // line's start.
  char* const base = buffer_.start();
  base[lineBegin_ - 1] = '\n';
  if (droppedReturn_) base[lineBegin_ - 2] = '\r';
  const size_t skip = lineBegin_ - lineStart_;
  lineBegin_ = lineStart_;
  return cutLine(skip, line, length);
}

bool LineReader::cutLine(size_t skip, char*& line, size_t& length) {
  size_t scanned = lineBegin_ + skip;
  for (;;) {
    char* const base = buffer_.start();
    auto* const newline = static_cast<char*>(std::memchr(base + scanned, '\n', dataEnd_ - scanned));
    const bool atFeed = newline != nullptr;
    if (!atFeed && !endOfFile_) {
      // readBlock moves the unread data to the start of the block.
      scanned = dataEnd_ - lineBegin_;
      readBlock();
      continue;
    }
    if (!atFeed && lineBegin_ == dataEnd_) return false;
    // The last line may have no line feed; readBlock keeps bytes free after
    // the data for its terminator.
    char* const lineEnd = atFeed ? newline : base + dataEnd_;
    *lineEnd = '\0';
    lineStart_ = lineBegin_;
    line = base + lineStart_;
    length = static_cast<size_t>(lineEnd - line);
    lineBegin_ = static_cast<size_t>(lineEnd - base) + (atFeed ? 1 : 0);
    lineEndedAtFeed_ = atFeed;
    droppedReturn_ = dropCarriageReturn(line, length);
    ++linesRead_;
    return true;
  }
}

void LineReader::readBlock() {
  char* base = buffer_.start();
  const size_t unread = dataEnd_ - lineBegin_;
  if (lineBegin_ != 0) std::memmove(base, base + lineBegin_, unread);
  textBefore_ += lineBegin_;
  lineBegin_ = 0;
  dataEnd_ = unread;
  if (dataEnd_ + kSlackBytes >= buffer_.capacity()) base = buffer_.increaseBuffer();
  const size_t room = buffer_.capacity() - kSlackBytes - dataEnd_;
  // A file that never ends (a device, a pipe) is read block by block until
  // memory runs out or the host interrupts.
  checkInterrupt();
  const size_t received = source_.read(base + dataEnd_, room);
  dataEnd_ += received;
  if (received < room) endOfFile_ = true;
}
