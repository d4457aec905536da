#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file opened for reading by its descriptor, closed when the object goes.
// Opening never waits. Reading waits as long as the file makes it (a FIFO
// without a writer yet, a pipe without data), in waits of at most
// kInterruptWaitMilliseconds, each followed by checkInterrupt(), which may
// throw Interrupted: a stop asked for from another thread, or by a signal,
// ends the wait within milliseconds. A read that a signal interrupts is
// retried.
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
  // Moves `bytes` forward in a regular file without reading them; false,
  // with nothing moved, for any other file or when the system refuses.
  bool skip(uint64_t bytes);
  void close();

 private:
  // Waits until the descriptor has data, or its writers have gone.
  void awaitData() const;

  int descriptor_ = -1;
  bool waits_ = false;  // the file is no regular file: data may take time to come
};
