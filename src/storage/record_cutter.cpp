// Finding where the records of a CSV file end, quote-aware, a block at a
// time.

#include "storage/record_cutter.h"

#include <algorithm>
#include <cstring>

#include "errors/database_exception.h"
#include "storage/line_reader.h"

namespace {

// File data is read in blocks of this size.
constexpr size_t kReadBlockBytes = 256 * 1024;

}  // namespace

void RecordCutter::open(const std::string& fileName, char separator) {
  source_.open(fileName);
  fileName_ = fileName;
  separator_ = separator;
  begin_ = end_ = scan_ = 0;
  scanLines_ = lines_ = 0;
  state_ = State::kFieldStart;
  endOfFile_ = false;
  headerSkipped_ = false;
}

bool RecordCutter::fill() {
  if (endOfFile_) return false;
  char* base = data_.start();
  const size_t unread = end_ - begin_;
  if (begin_ != 0) std::memmove(base, base + begin_, unread);
  begin_ = 0;
  end_ = unread;
  data_.position = base + end_;
  data_.reserve(kReadBlockBytes + LineReader::kSlackBytes);
  base = data_.start();
  const size_t room = data_.capacity() - LineReader::kSlackBytes - end_;
  const size_t received = source_.read(base + end_, room);
  end_ += received;
  data_.position = base + end_;
  if (received < room) endOfFile_ = true;
  return received != 0;
}

const char* RecordCutter::skipQuoted(const char* p, const char* end) {
  for (;;) {
    if (state_ == State::kQuoteSeen) {
      if (p == end) return p;
      // A doubled double quote stands for one; any other byte closes the field.
      if (*p != '"') {
        state_ = State::kPlain;
        return p;
      }
      ++p;
      state_ = State::kQuoted;
    }
    const auto* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
    const char* const stop = quote != nullptr ? quote : end;
    scanLines_ += static_cast<uint64_t>(std::count(p, stop, '\n'));
    if (quote == nullptr) return end;
    p = quote + 1;
    state_ = State::kQuoteSeen;
  }
}

size_t RecordCutter::findRecordEnd() {
  const char* const base = data_.start() + begin_;
  const char* const end = data_.start() + end_;
  const char* p = base + scan_;
  while (p < end) {
    if (state_ == State::kQuoted || state_ == State::kQuoteSeen) {
      p = skipQuoted(p, end);
      if (p == end) break;
      // The byte after a closing quote is read as in a plain field.
      if (*p == separator_) {
        state_ = State::kFieldStart;
        ++p;
        continue;
      }
    }
    if (state_ == State::kFieldStart) {
      if (*p == '"') {
        state_ = State::kQuoted;
        ++p;
        continue;
      }
      state_ = State::kPlain;
    }
    const auto* feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* const lineEnd = feed != nullptr ? feed : end;
    // Only a double quote that starts a field opens a quoted field.
    const char* quote = p;
    while ((quote = static_cast<const char*>(std::memchr(quote, '"', static_cast<size_t>(lineEnd - quote)))) !=
               nullptr &&
           (quote == p || quote[-1] != separator_)) {
      ++quote;
    }
    if (quote != nullptr) {
      state_ = State::kQuoted;
      p = quote + 1;
      continue;
    }
    if (feed == nullptr) break;
    ++scanLines_;
    state_ = State::kFieldStart;
    scan_ = static_cast<size_t>(feed + 1 - base);
    return scan_;
  }
  scan_ = static_cast<size_t>(end - base);
  return 0;
}

void RecordCutter::consume(size_t bytes, uint64_t lines) {
  begin_ += bytes;
  scan_ -= bytes;
  lines_ += lines;
  scanLines_ -= lines;
}

void RecordCutter::skipHeader() {
  headerSkipped_ = true;
  for (;;) {
    size_t recordEnd = findRecordEnd();
    while (recordEnd == 0 && fill()) recordEnd = findRecordEnd();
    if (recordEnd == 0) {
      if (state_ == State::kQuoted) {
        throw DatabaseException("Quoted field on line %llu of %s is not closed before the end of the file",
                                static_cast<unsigned long long>(lines_ + 1), fileName_.c_str());
      }
      // A header without line feed ends the file.
      consume(end_ - begin_, scanLines_);
      return;
    }
    const char* const record = data_.start() + begin_;
    const bool empty = recordEnd == 1 || (recordEnd == 2 && record[0] == '\r');
    consume(recordEnd, scanLines_);
    if (!empty) return;
  }
}

bool RecordCutter::cut(Buffer& text, size_t& bytes, uint64_t& linesBefore) {
  if (!headerSkipped_) skipHeader();
  size_t records = 0;
  size_t cutAt = 0;
  uint64_t cutLines = 0;
  while (records < kBatchRecords && cutAt < kBatchBytes) {
    const size_t recordEnd = findRecordEnd();
    if (recordEnd != 0) {
      ++records;
      cutAt = recordEnd;
      cutLines = scanLines_;
      continue;
    }
    if (fill()) continue;
    // The last record runs to the end of the file.
    cutAt = end_ - begin_;
    cutLines = scanLines_;
    state_ = State::kFieldStart;
    break;
  }
  if (cutAt == 0) return false;
  text.reset();
  text.reserve(cutAt + LineReader::kSlackBytes);
  text.write(data_.start() + begin_, cutAt);
  bytes = cutAt;
  linesBefore = lines_;
  consume(cutAt, cutLines);
  return true;
}
