// Gzip members inflated with zlib, one after the other.

#include "storage/gzip_inflater.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "errors/database_exception.h"

namespace {

// zlib's window bits for gzip data alone: the largest window, plus 16.
constexpr int kGzipWindowBits = 16 + MAX_WBITS;

}  // namespace

struct GzipInflater::Stream {
  z_stream z{};
};

GzipInflater::GzipInflater(std::string fileName) : stream_(std::make_unique<Stream>()), fileName_(std::move(fileName)) {
  if (inflateInit2(&stream_->z, kGzipWindowBits) != Z_OK) {
    throw DatabaseException("Unable to set up gzip decompression for file %s", fileName_.c_str());
  }
}

GzipInflater::~GzipInflater() { inflateEnd(&stream_->z); }

size_t GzipInflater::inflate(const char*& in, size_t& inSize, char* out, size_t outSize) {
  z_stream& z = stream_->z;
  size_t made = 0;
  while (inSize > 0 && made < outSize) {
    // Bytes after a member's end start the next member.
    if (!inMember_) inflateReset(&z);
    inMember_ = true;
    const auto given = static_cast<uInt>(std::min<size_t>(inSize, UINT_MAX));
    const auto room = static_cast<uInt>(std::min<size_t>(outSize - made, UINT_MAX));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    z.avail_in = given;
    z.next_out = reinterpret_cast<Bytef*>(out + made);
    z.avail_out = room;
    const int status = ::inflate(&z, Z_NO_FLUSH);
    in += given - z.avail_in;
    inSize -= given - z.avail_in;
    made += room - z.avail_out;
    if (status == Z_STREAM_END) {
      inMember_ = false;
    } else if (status == Z_MEM_ERROR) {
      throw DatabaseException("Out of memory while inflating gzip file %s", fileName_.c_str());
    } else if (status != Z_OK) {
      throw DatabaseException("Gzip file %s is damaged (%s)", fileName_.c_str(),
                              z.msg != nullptr ? z.msg : "not gzip data");
    }
  }
  return made;
}

void GzipInflater::finish() const {
  if (inMember_) throw DatabaseException("Gzip file %s is truncated: its data ends inside a member", fileName_.c_str());
}
