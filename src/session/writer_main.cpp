#include "session/writer_main.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "native/ori.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "session/final_report.h"
#include "session/heartbeat.h"
#include "session/inherited_state.h"
#include "session/intake.h"
#include "support/standard_descriptors.h"

namespace {

UniqueFd connectChannel(const WriteRequest& request) {
  UniqueFd channel(ori_unix_connect(request.socket.c_str()));
  if (!channel) throw ImagerError::message("The Imager session is no longer available.");
  return channel;
}

void proveOwner(int fd, uint32_t uid) {
  uint32_t peer = 0;
  if (ori_peer_uid(fd, &peer) != 1 || peer != uid)
    throw ImagerError::message("Invalid Imager channel owner.");
}

// Everything after the connect: every failure from here on is reported on
// the channel.
[[noreturn]] void runSession(UniqueFd channel, const WriteRequest& request,
                             const std::shared_ptr<Cancellation>& cancellation) {
  const int fd = channel.get();
  std::unique_ptr<Platform::RepeatingTimer> heartbeat;
  std::optional<uint32_t> assertion;
  try {
    proveOwner(fd, request.uid);
    // From here on no read or write on the channel may block. A fresh socket
    // takes the flag, so the result is not examined.
    (void)fcntl(fd, F_SETFL, O_NONBLOCK);
    heartbeat = Heartbeat::start(fd, cancellation);
    WriterMain::event(fd, {"connected", 0, 0, request.nonce});
    assertion = Platform::preventIdleSleep();
    WriterMain::perform(request, *cancellation,
                        [fd](const WriteEvent& event) { WriterMain::event(fd, event); });
    const int64_t expanded = request.inspection.expanded;
    WriterMain::event(fd, {"complete", expanded, expanded, std::nullopt});
  } catch (...) {
    if (assertion) Platform::allowIdleSleep(*assertion);
    if (heartbeat) heartbeat->cancel();
    FinalReport::fail(std::move(channel), *cancellation, std::current_exception());
  }
  // The heartbeat goes on reading the channel until the process ends, so the
  // channel is left for the exit to close rather than closed under it.
  std::exit(0);
}

}  // namespace

namespace WriterMain {

void main(int argc, char** argv) {
  InheritedState::reset();
  Platform::boundMemory();
  reserveStandardDescriptors();
  const auto cancellation = std::make_shared<Cancellation>();
  WriteRequest request;
  UniqueFd channel;
  try {
    request = Intake::readRequest(argc, argv);
    channel = connectChannel(request);
  } catch (...) {
    std::exit(1);  // nothing to report on: there is no channel yet
  }
  runSession(std::move(channel), request, cancellation);
}

}  // namespace WriterMain
