#pragma once

#include <cstddef>
#include <string>

// A file opened for reading by its descriptor, closed when the object goes.
// Opening and reading wait as long as the file makes them (a FIFO without
// a writer, a pipe without data) but stay interruptible: a signal that
// interrupts the wait runs checkInterrupt(), which may throw Interrupted.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path`, closing any file opened before; false when it cannot be
  // opened.
  bool open(const std::string& path);
  // Reads up to `size` bytes into `out`, fewer only at the end of the file;
  // false when the file cannot be read (a directory, an I/O error).
  bool read(char* out, size_t size, size_t& received);
  void close();

 private:
  int descriptor_ = -1;
};
