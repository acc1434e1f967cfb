#include "helpers/write_fault.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> faultyFd{-1};
std::atomic<int> faultError{0};
std::atomic<int> passingCalls{0};
std::atomic<int> seenCalls{0};
std::atomic<std::size_t> passingLimit{SIZE_MAX};

}  // namespace

WriteFault::WriteFault(int fd, int error, int passing, std::size_t passingBytes) {
  faultError = error;
  passingLimit = passingBytes;
  passingCalls = passing;
  seenCalls = 0;
  faultyFd = fd;
}

WriteFault::~WriteFault() { faultyFd = -1; }

int WriteFault::calls() const { return seenCalls; }

// Takes the place of the C library's write for this binary.
extern "C" ssize_t write(int fd, const void* bytes, size_t count) {
  if (fd >= 0 && fd == faultyFd.load()) {
    if (seenCalls++ < passingCalls.load()) {
      count = std::min(count, passingLimit.load());
    } else {
      if (faultError.load() == 0) return 0;
      errno = faultError.load();
      return -1;
    }
  }
  return ::syscall(SYS_write, fd, bytes, count);
}
