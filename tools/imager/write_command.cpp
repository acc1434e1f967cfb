#include "write_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "channel_directory.h"
#include "disks/disk_inventory.h"
#include "inspect.h"
#include "job_summary.h"
#include "native/ori.h"
#include "plain_text.h"
#include "platform/platform.h"
#include "progress_view.h"
#include "records/write_event.h"
#include "records/write_request.h"
#include "session_user.h"
#include "support/base64.h"
#include "writer_launch.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPingInterval = std::chrono::seconds(2);

volatile sig_atomic_t interrupted = 0;

void catchInterrupts() {
  struct sigaction action {};
  action.sa_handler = [](int) { interrupted = 1; };
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::string absolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) throw std::runtime_error("Cannot find " + path + ".");
  return resolved;
}

TargetDisk findDrive(const std::string& drive, const std::string& image) {
  for (const TargetDisk& disk : DiskInventory::list({image}))
    if (disk.bsd == drive) return disk;
  throw std::runtime_error("Drive " + drive + " is not available for writing (see: imager list).");
}

UniqueFd acceptWriter(int listener, pid_t writer) {
  while (!interrupted) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, 200) > 0) {
      UniqueFd connection(accept(listener, nullptr, nullptr));
      if (!connection) continue;
      fcntl(connection.get(), F_SETFD, FD_CLOEXEC);
      Platform::keepLostPeerQuiet(connection.get());
      uint32_t peer = 1;
      if (ori_peer_uid(connection.get(), &peer) != 1 || peer != 0)
        throw std::runtime_error("Something other than the writer connected.");
      return connection;
    }
    bool ended = false;
    const int status = writerStatus(writer, false, &ended);
    if (ended)
      throw std::runtime_error("The writer ended before connecting (status " +
                               std::to_string(status) + ").");
  }
  throw std::runtime_error("Interrupted.");
}

// Reads events until the closing one, pinging every two seconds. Returns the
// closing event, or nothing when the channel ended without one.
std::optional<WriteEvent> followEvents(int fd, const std::string& nonce, ProgressView& view,
                                       JobClock& clock, bool raw) {
  std::string pending;
  bool first = true;
  auto nextPing = Clock::now();
  while (!interrupted) {
    if (Clock::now() >= nextPing) {
      (void)send(fd, "ping\n", 5, Platform::sendFlags());
      nextPing += kPingInterval;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextPing - Clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::max<int64_t>(wait.count(), 0))) <= 0) continue;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EINTR)) return std::nullopt;
    if (n < 0) continue;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string line = pending.substr(0, end);
      const auto event = nlohmann::json::parse(line).get<WriteEvent>();
      if (first && (event.stage != "connected" || event.message != nonce))
        throw std::runtime_error("The writer did not answer with this session's nonce.");
      first = false;
      clock.saw(event.stage);
      if (raw) std::printf("%s\n", line.c_str()), std::fflush(stdout);
      if (event.stage == "complete" || event.stage == "error" || event.stage == "cancelled")
        return event;
      if (!raw && event.stage != "connected") view.show(event.stage, event.completed, event.total);
    }
  }
  return std::nullopt;
}

int report(const std::optional<WriteEvent>& closing, int writerExit, const std::string& summary) {
  if (!closing) {
    std::fprintf(stderr, "The writer ended without a result (status %d).\n", writerExit);
    return 1;
  }
  if (closing->stage == "complete") {
    std::printf("%s\n", summary.c_str());
    return writerExit == 0 ? 0 : 1;
  }
  const std::string message = closing->message.value_or("");
  std::fprintf(stderr, "%s: %s\n", closing->stage == "cancelled" ? "Cancelled" : "Failed",
               plainText(message).c_str());
  if (const std::string hint = hintFor(message); !hint.empty())
    std::fprintf(stderr, "%s\n", hint.c_str());
  return 1;
}

}  // namespace

int writeImage(const WriteOptions& options) {
  catchInterrupts();
  JobClock clock;
  const SessionUser user = sessionUser(options.user);
  const std::string image = absolutePath(options.image);
  ProgressView view(isatty(STDOUT_FILENO) && !options.events);

  WriteRequest request;
  request.version = 1;
  request.source = image;
  request.inspection = inspectImage(image, user.uid, [&](const char* stage, int64_t done, int64_t total) {
    if (!options.events) view.show(stage, done, total);
  });
  request.target = findDrive(options.drive, image);
  request.uid = user.uid;
  request.nonce = randomUuid();

  ChannelDirectory channel(user.uid, user.gid);
  const UniqueFd listener = channel.listen();
  request.socket = channel.socketPath();
  const pid_t writer = launchWriter(options.writer, encodeBase64(nlohmann::json(request).dump()));

  std::optional<WriteEvent> closing;
  {
    const UniqueFd connection = acceptWriter(listener.get(), writer);
    closing = followEvents(connection.get(), request.nonce, view, clock, options.events);
  }  // closing the channel tells a writer still at work to stop
  view.finish();
  bool ended = false;
  const int writerExit = writerStatus(writer, true, &ended);
  return report(closing, writerExit, clock.summary(request.inspection.expanded, request.target));
}
