#include "session/writer_main.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "session/intake.h"

namespace {

// Descriptors 0 to 2 stay taken (by /dev/null where the parent left one
// closed), so that no descriptor the writer opens later can land on them and
// reach a child process as its standard input or output.
void reserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int opened = open("/dev/null", O_RDWR);
    if (opened != fd) std::_Exit(1);
  }
}

}  // namespace

namespace WriterMain {

void main(int argc, char** argv) { serve(argc, argv, nullptr); }

void serve(int argc, char** argv, const Job& job) {
  const auto cancellation = std::make_shared<Cancellation>();
  reserveStandardDescriptors();
  WriteRequest request;
  try {
    request = Intake::readRequest(argc, argv);
  } catch (...) {
    std::exit(1);  // nothing to report on: there is no channel yet
  }
  (void)job;
  std::exit(1);
}

}  // namespace WriterMain
