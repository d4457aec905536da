// Finding where the records of a CSV file end, quote-aware, a block at a
// time.

#include "storage/record_cutter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "errors/database_exception.h"
#include "storage/line_reader.h"

namespace {

// File data is read in blocks of this size: a batch's worth.
constexpr size_t kReadBlockBytes = RecordCutter::kBatchBytes;

// Bytes the plain-record scan looks at in one step, their positions one
// 64-bit mask.
constexpr size_t kChunkBytes = 64;
static_assert(LineReader::kSlackBytes >= kChunkBytes, "a chunk that starts in the data ends within the slack");

// Bit i of `feeds` (`quotes`) is set when byte i of the kChunkBytes bytes
// at `c` is a line feed (a double quote). All of them must be readable.
void chunkMasks(const char* c, uint64_t& feeds, uint64_t& quotes) {
  feeds = 0;
  quotes = 0;
#if defined(__SSE2__)
  for (unsigned part = 0; part < kChunkBytes / 16; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * part));
    const auto mask = [](__m128i equal) {
      return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(equal)));
    };
    feeds |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))) << (16 * part);
    quotes |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))) << (16 * part);
  }
#else
  for (unsigned i = 0; i < kChunkBytes; ++i) {
    if (c[i] == '\n') feeds |= uint64_t{1} << i;
    if (c[i] == '"') quotes |= uint64_t{1} << i;
  }
#endif
}

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
  const size_t room = std::min(data_.capacity() - LineReader::kSlackBytes - end_, kReadBlockBytes);
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
    // Only a double quote that starts a field opens a quoted field, also
    // where the scan resumes after a read, right after a separator.
    const char* quote = p;
    while ((quote = static_cast<const char*>(std::memchr(quote, '"', static_cast<size_t>(lineEnd - quote)))) !=
               nullptr &&
           quote != base && quote[-1] != separator_) {
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

bool RecordCutter::cutPlainRecords(size_t& records, size_t& cutAt, uint64_t& cutLines) {
  const char* const base = data_.start() + begin_;
  const char* const end = data_.start() + end_;
  for (const char* c = base + scan_; c < end; c += kChunkBytes) {
    uint64_t feeds = 0;
    uint64_t quotes = 0;
    chunkMasks(c, feeds, quotes);
    const size_t left = static_cast<size_t>(end - c);
    if (left < kChunkBytes) {
      feeds &= (uint64_t{1} << left) - 1;
      quotes &= (uint64_t{1} << left) - 1;
    }
    // Only the line feeds before the first double quote end plain records.
    if (quotes != 0) feeds &= (quotes & (~quotes + 1)) - 1;
    for (; feeds != 0; feeds &= feeds - 1) {
      scan_ = static_cast<size_t>(c - base) + static_cast<size_t>(std::countr_zero(feeds)) + 1;
      ++scanLines_;
      state_ = State::kFieldStart;
      ++records;
      cutAt = scan_;
      cutLines = scanLines_;
      if (records == kBatchRecords) return true;
    }
    if (quotes != 0) return false;
  }
  return false;
}

void RecordCutter::handOver(Buffer& text, size_t bytes, uint64_t lines) {
  const size_t first = begin_;
  consume(bytes, lines);
  const size_t left = end_ - begin_;
  if (first != 0 || left > bytes / 8) {
    text.reset();
    text.reserve(bytes + LineReader::kSlackBytes);
    text.write(data_.start() + first, bytes);
    return;
  }
  // The records stay where they were read; what follows them, the start
  // of a record, moves to the start of the block that `text` gave.
  std::swap(text.location, data_.location);
  text.position = text.start() + bytes;
  data_.reset();
  data_.reserve(left + kReadBlockBytes + LineReader::kSlackBytes);
  std::memcpy(data_.start(), text.start() + bytes, left);
  data_.position = data_.start() + left;
  begin_ = 0;
  end_ = left;
}

bool RecordCutter::cut(Buffer& text, size_t& bytes, uint64_t& linesBefore) {
  if (!headerSkipped_) skipHeader();
  size_t records = 0;
  size_t cutAt = 0;
  uint64_t cutLines = 0;
  while (records < kBatchRecords) {
    if (state_ != State::kQuoted && state_ != State::kQuoteSeen && cutPlainRecords(records, cutAt, cutLines)) break;
    const size_t recordEnd = findRecordEnd();
    if (recordEnd != 0) {
      ++records;
      cutAt = recordEnd;
      cutLines = scanLines_;
      continue;
    }
    // The batch ends with the whole records read, or takes the file's last.
    if (cutAt != 0 && !endOfFile_) break;
    if (fill()) continue;
    // The last record runs to the end of the file.
    cutAt = end_ - begin_;
    cutLines = scanLines_;
    state_ = State::kFieldStart;
    break;
  }
  if (cutAt == 0) return false;
  bytes = cutAt;
  linesBefore = lines_;
  handOver(text, cutAt, cutLines);
  return true;
}
