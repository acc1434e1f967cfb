#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "records/imager_error.h"
#include "session/writer_main.h"

namespace {

constexpr std::chrono::seconds kSendDeadline{3};
constexpr std::chrono::milliseconds kRetryPause{10};

ImagerError disconnected() { return ImagerError::message("Imager disconnected. Writing stopped."); }

}  // namespace

namespace WriterMain {

void event(int fd, const WriteEvent& event) {
  std::string line = event.encode();
  line.push_back('\n');
  const auto deadline = std::chrono::steady_clock::now() + kSendDeadline;
  std::size_t offset = 0;
  while (offset < line.size()) {
    const ssize_t sent =
        send(fd, line.data() + offset, line.size() - offset, Platform::sendFlags());
    if (sent > 0) {
      offset += static_cast<std::size_t>(sent);
      continue;
    }
    // A full socket buffer is waited out; anything else means the Imager is
    // gone.
    if (errno != EAGAIN && errno != EINTR) throw disconnected();
    if (std::chrono::steady_clock::now() >= deadline) throw disconnected();
    std::this_thread::sleep_for(kRetryPause);
  }
}

}  // namespace WriterMain
