#include "helpers/write_fault.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> faultyFd{-1};
std::atomic<int> faultError{0};
std::atomic<int> passingCalls{0};
std::atomic<int> seenCalls{0};

}  // namespace

WriteFault::WriteFault(int fd, int error, int passing) {
  faultError = error;
  passingCalls = passing;
  seenCalls = 0;
  faultyFd = fd;
}

WriteFault::~WriteFault() { faultyFd = -1; }

int WriteFault::calls() const { return seenCalls; }

// Takes the place of the C library's write for this binary.
extern "C" ssize_t write(int fd, const void* bytes, size_t count) {
  if (fd >= 0 && fd == faultyFd.load() && seenCalls++ >= passingCalls.load()) {
    if (faultError.load() == 0) return 0;
    errno = faultError.load();
    return -1;
  }
  return ::syscall(SYS_write, fd, bytes, count);
}
