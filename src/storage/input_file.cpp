// Reading a file through its descriptor: pipes and FIFOs are read without
// blocking, their data waited for in short polls between interrupt checks.

#include "storage/input_file.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors/interruption.h"

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
  close();
  // Without O_NONBLOCK, opening a FIFO would wait for its writer where no
  // check can stop it. A FIFO opened so reports its end only once a writer
  // has come and gone.
  for (;;) {
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor_ >= 0) break;
    if (errno != EINTR) return false;
    checkInterrupt();
  }
  struct stat status {};
  waits_ = fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode);
  return true;
}

void InputFile::awaitData() const {
  pollfd wanted{descriptor_, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&wanted, 1, kInterruptWaitMilliseconds);
    if (ready > 0) return;
    if (ready < 0 && errno != EINTR) return;  // the read that follows reports it
    checkInterrupt();
  }
}

bool InputFile::skip(uint64_t bytes) {
  if (descriptor_ < 0 || waits_ || bytes > static_cast<uint64_t>(INT64_MAX)) return false;
  return lseek(descriptor_, static_cast<off_t>(bytes), SEEK_CUR) != static_cast<off_t>(-1);
}

bool InputFile::read(char* out, size_t size, size_t& received) {
  received = 0;
  while (received < size) {
    if (waits_) awaitData();
    const ssize_t got = ::read(descriptor_, out + received, size - received);
    if (got > 0) {
      received += static_cast<size_t>(got);
      continue;
    }
    if (got == 0) return true;
    if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
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
