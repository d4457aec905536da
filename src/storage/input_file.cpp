// Reading a file through its descriptor, retrying after signals.

#include "storage/input_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "errors/interruption.h"

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
  close();
  for (;;) {
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ >= 0) return true;
    if (errno != EINTR) return false;
    checkInterrupt();
  }
}

bool InputFile::read(char* out, size_t size, size_t& received) {
  received = 0;
  while (received < size) {
    const ssize_t got = ::read(descriptor_, out + received, size - received);
    if (got > 0) {
      received += static_cast<size_t>(got);
      continue;
    }
    if (got == 0) return true;
    if (errno != EINTR) return false;
    checkInterrupt();
  }
  return true;
}

void InputFile::close() {
  if (descriptor_ < 0) return;
  ::close(descriptor_);
  descriptor_ = -1;
}
