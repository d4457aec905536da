#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "storage/buffer.h"
#include "storage/gzip_inflater.h"
#include "storage/input_file.h"

// The text of a file: the bytes of a text file as they are, the inflated
// text of a gzip file. What a file holds is told by its first bytes, never
// by its name; a file that starts like another compressed or binary format
// (zip, bzip2, xz, zstd, Parquet) is refused rather than read as text.
// Reading waits and stays interruptible as InputFile does, and checks for an
// interrupt before each block of compressed data it reads.
class TextSource {
 public:
  // Opens `fileName` to read its text from the start. Throws
  // DatabaseException "Unable to read file %s" when it cannot be opened.
  void open(const std::string& fileName);
  // Reads up to `size` bytes of text into `out` and returns how many; fewer
  // only at the end of the text. Throws DatabaseException naming the file
  // when it cannot be read, is refused, or holds damaged or truncated gzip
  // data.
  size_t read(char* out, size_t size);
  // Passes over up to `bytes` bytes of the text; answers how many it
  // passed over without reading them, which may be none (the caller then
  // reads past the rest).
  uint64_t skip(uint64_t bytes);
  // Whether the text is inflated from compressed data; known once read()
  // has run.
  bool compressed() const { return inflater_ != nullptr; }

 private:
  // Reads the file's first bytes and decides how its text is read.
  void recognise();
  size_t readGzip(char* out, size_t size);
  // Moves up to `size` pending bytes to `out`; returns how many.
  size_t takePending(char* out, size_t size);
  // Reads up to `size` bytes of the file into `out`; fewer only at its end,
  // which sets ended_.
  size_t readFile(char* out, size_t size);

  InputFile input_;
  std::string fileName_;
  bool recognised_ = false;  // the first bytes were read and judged
  bool ended_ = false;       // the file has no more bytes
  Buffer pending_;           // bytes read from the file and not yet used
  size_t pendingBegin_ = 0;  // offset in pending_ of the first unused byte
  size_t pendingEnd_ = 0;    // offset in pending_ just past the bytes read
  std::unique_ptr<GzipInflater> inflater_;  // set for a gzip file
};
