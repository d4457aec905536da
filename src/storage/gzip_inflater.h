#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Inflates the gzip data of one file, given in pieces as the file is read:
// one member or several written one after the other, which inflate to
// their texts joined. Owns the decompressor's state and releases it when
// destroyed. Damaged data, a member that the end of the file cuts short,
// and a module built without gzip support are reported as DatabaseException
// naming the file.
class GzipInflater {
 public:
  // Throws DatabaseException when the module was built without gzip
  // support, or when the decompressor cannot be set up.
  explicit GzipInflater(std::string fileName);
  ~GzipInflater();
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;

  // Inflates the `inSize` bytes at `in` into the `outSize` bytes at `out`
  // until either runs out, and returns the bytes made; `in` and `inSize`
  // move past the bytes used. Throws when the data is not gzip data.
  size_t inflate(const char*& in, size_t& inSize, char* out, size_t outSize);
  // Called at the end of the file: throws when it ended inside a member.
  void finish() const;

 private:
  struct Stream;  // the decompressor's state

  std::unique_ptr<Stream> stream_;
  std::string fileName_;
  bool inMember_ = false;  // bytes of a member were used and its end not yet
};
