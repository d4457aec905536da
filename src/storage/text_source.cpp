// Telling a file's format by its first bytes, and reading its text: plain
// bytes passed through, gzip data inflated block by block.

#include "storage/text_source.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "errors/database_exception.h"
#include "errors/interruption.h"

namespace {

const char* const kUnreadable = "Unable to read file %s";

// Bytes read before a file's format is decided: enough for every signature
// below.
constexpr size_t kHeadBytes = 16;
// Compressed data is read in blocks of this size.
constexpr size_t kCompressedBlockBytes = 64 * 1024;

constexpr std::string_view kGzipMagic("\x1f\x8b", 2);

bool startsWith(std::string_view head, std::string_view magic) { return head.substr(0, magic.size()) == magic; }

// A byte no text file holds: a control character other than tab, line feed
// and carriage return.
bool isBinaryByte(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

// The formats refused by their signature, each named with its article for
// the message. Where a signature is text a CSV header could start with
// ("BZh9", "PAR1"), the bytes after it decide.
struct RefusedFormat {
  const char* name;
  bool (*matches)(std::string_view head);
};

const RefusedFormat kRefusedFormats[] = {
    {"a zip",
     [](std::string_view head) {
       return startsWith(head, "PK\x03\x04") || startsWith(head, "PK\x05\x06") || startsWith(head, "PK\x07\x08");
     }},
    // "BZh", the block size 1 to 9, then the magic of a first block or of
    // the end of an empty stream.
    {"a bzip2",
     [](std::string_view head) {
       return head.size() >= 10 && startsWith(head, "BZh") && head[3] >= '1' && head[3] <= '9' &&
              (head.substr(4, 6) == "1AY&SY" || head.substr(4, 6) == "\x17\x72\x45\x38\x50\x90");
     }},
    {"an xz", [](std::string_view head) { return startsWith(head, std::string_view("\xfd" "7zXZ\0", 6)); }},
    {"a zstd", [](std::string_view head) { return startsWith(head, "\x28\xb5\x2f\xfd"); }},
    // "PAR1" and the start of a binary page or footer header.
    {"a Parquet", [](std::string_view head) { return startsWith(head, "PAR1") && head.size() > 4 && isBinaryByte(head[4]); }},
};

}  // namespace

void TextSource::open(const std::string& fileName) {
  fileName_ = fileName;
  if (!input_.open(fileName_)) throw DatabaseException(kUnreadable, fileName_.c_str());
  recognised_ = false;
  ended_ = false;
  pendingBegin_ = 0;
  pendingEnd_ = 0;
  inflater_.reset();
}

size_t TextSource::read(char* out, size_t size) {
  if (!recognised_) recognise();
  if (inflater_ != nullptr) return readGzip(out, size);
  const size_t taken = takePending(out, size);
  if (taken == size || ended_) return taken;
  return taken + readFile(out + taken, size - taken);
}

uint64_t TextSource::skip(uint64_t bytes) {
  if (!recognised_) recognise();
  if (inflater_ != nullptr) return 0;
  const size_t pending = std::min<uint64_t>(bytes, pendingEnd_ - pendingBegin_);
  pendingBegin_ += pending;
  if (pending == bytes || !input_.skip(bytes - pending)) return pending;
  return bytes;
}

void TextSource::recognise() {
  pendingBegin_ = 0;
  pendingEnd_ = readFile(pending_.start(), kHeadBytes);
  recognised_ = true;
  const std::string_view head(pending_.start(), pendingEnd_);
  if (startsWith(head, kGzipMagic)) {
    inflater_ = std::make_unique<GzipInflater>(fileName_);
    pending_.reserve(kCompressedBlockBytes);
    return;
  }
  for (const RefusedFormat& format : kRefusedFormats) {
    if (format.matches(head)) {
      throw DatabaseException("File %s is %s file, not CSV text", fileName_.c_str(), format.name);
    }
  }
}

size_t TextSource::readGzip(char* out, size_t size) {
  size_t made = 0;
  while (made < size) {
    if (pendingBegin_ == pendingEnd_) {
      if (ended_) {
        inflater_->finish();
        break;
      }
      // One read may take many blocks (an empty member makes no text), and
      // each stops at the host's request as a block of a plain file does.
      checkInterrupt();
      pendingBegin_ = 0;
      pendingEnd_ = readFile(pending_.start(), pending_.capacity());
      continue;
    }
    const char* in = pending_.start() + pendingBegin_;
    size_t available = pendingEnd_ - pendingBegin_;
    made += inflater_->inflate(in, available, out + made, size - made);
    pendingBegin_ = pendingEnd_ - available;
  }
  return made;
}

size_t TextSource::takePending(char* out, size_t size) {
  const size_t taken = std::min(size, pendingEnd_ - pendingBegin_);
  std::memcpy(out, pending_.start() + pendingBegin_, taken);
  pendingBegin_ += taken;
  return taken;
}

size_t TextSource::readFile(char* out, size_t size) {
  size_t received = 0;
  if (!input_.read(out, size, received)) throw DatabaseException(kUnreadable, fileName_.c_str());
  if (received < size) ended_ = true;
  return received;
}
