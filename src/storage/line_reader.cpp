// Reading a file line by line in large blocks.

#include "storage/line_reader.h"

#include <cstring>

#include "errors/database_exception.h"
#include "errors/interruption.h"

namespace {

// File data is read in blocks of at least this size: large enough that a
// read costs little per line, small enough to stay in the processor's
// caches while its lines are cut and converted.
constexpr size_t kReadBlockBytes = 256 * 1024;

const char* const kUnreadable = "Unable to read file %s";

// Drops the carriage return of a CR LF line end from a line of `length`
// bytes, which then ends at the new length.
void dropCarriageReturn(char* line, size_t& length) {
  if (length != 0 && line[length - 1] == '\r') line[--length] = '\0';
}

}  // namespace

void LineReader::open(const std::string& fileName) {
  fileName_ = fileName;
  if (!input_.open(fileName_)) throw DatabaseException(kUnreadable, fileName_.c_str());
  while (buffer_.capacity() < kReadBlockBytes) buffer_.increaseBuffer();
  lineBegin_ = 0;
  dataEnd_ = 0;
  linesRead_ = 0;
  endOfFile_ = false;
}

bool LineReader::readFilledLine(char*& line, size_t& length) {
  do {
    if (!readLine(line, length)) return false;
  } while (length == 0);
  return true;
}

bool LineReader::readLine(char*& line, size_t& length) {
  size_t scanned = lineBegin_;
  for (;;) {
    char* const base = buffer_.start();
    auto* const newline = static_cast<char*>(std::memchr(base + scanned, '\n', dataEnd_ - scanned));
    if (newline != nullptr) {
      *newline = '\0';
      line = base + lineBegin_;
      length = static_cast<size_t>(newline - line);
      lineBegin_ = static_cast<size_t>(newline - base) + 1;
      dropCarriageReturn(line, length);
      ++linesRead_;
      return true;
    }
    if (endOfFile_) {
      if (lineBegin_ == dataEnd_) return false;
      // The last line has no line feed; readBlock keeps bytes free after
      // the data for its terminator.
      base[dataEnd_] = '\0';
      line = base + lineBegin_;
      length = dataEnd_ - lineBegin_;
      lineBegin_ = dataEnd_;
      dropCarriageReturn(line, length);
      ++linesRead_;
      return true;
    }
    // readBlock moves the unread data to the start of the block.
    scanned = dataEnd_ - lineBegin_;
    readBlock();
  }
}

void LineReader::readBlock() {
  char* base = buffer_.start();
  const size_t unread = dataEnd_ - lineBegin_;
  if (lineBegin_ != 0) std::memmove(base, base + lineBegin_, unread);
  lineBegin_ = 0;
  dataEnd_ = unread;
  if (dataEnd_ + kSlackBytes >= buffer_.capacity()) base = buffer_.increaseBuffer();
  const size_t room = buffer_.capacity() - kSlackBytes - dataEnd_;
  // A file that never ends (a device, a pipe) is read block by block until
  // memory runs out or the host interrupts.
  checkInterrupt();
  size_t received = 0;
  if (!input_.read(base + dataEnd_, room, received)) throw DatabaseException(kUnreadable, fileName_.c_str());
  dataEnd_ += received;
  if (received < room) endOfFile_ = true;
}
