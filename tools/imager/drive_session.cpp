#include "drive_session.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include "native/ori.h"
#include "platform/platform.h"
#include "support/base64.h"
#include "writer_launch.h"

namespace {
constexpr auto kPingInterval = std::chrono::seconds(2);
}

DriveSession::DriveSession(WriteRequest request, const SessionUser& user, const std::string& writer)
    : request_(std::move(request)), channel_(user.uid, user.gid), listener_(channel_.listen()) {
  request_.socket = channel_.socketPath();
  request_.nonce = randomUuid();
  writer_ = launchWriter(writer, encodeBase64(nlohmann::json(request_).dump()));
}

DriveSession::~DriveSession() { end(); }

int DriveSession::end() {
  done_ = true;
  connection_.reset();
  listener_.reset();
  if (!status_ && writer_ > 0) {
    bool ended = false;
    status_ = writerStatus(writer_, true, &ended);
  }
  return status_.value_or(-1);
}

void DriveSession::serve(bool readable, const EventSink& sink) {
  if (done_) return;
  if (!connection_) {
    if (readable) return accept();
    bool ended = false;
    const int status = writerStatus(writer_, false, &ended);
    if (!ended) return;
    status_ = status;
    failure_ = "The writer ended before connecting";
    done_ = true;
    return;
  }
  if (std::chrono::steady_clock::now() >= nextPing_) {
    (void)send(connection_.get(), "ping\n", 5, Platform::sendFlags());
    nextPing_ += kPingInterval;
  }
  if (readable) read(sink);
}

void DriveSession::accept() {
  UniqueFd connection(::accept(listener_.get(), nullptr, nullptr));
  if (!connection) return;
  fcntl(connection.get(), F_SETFD, FD_CLOEXEC);
  Platform::keepLostPeerQuiet(connection.get());
  uint32_t peer = 1;
  if (ori_peer_uid(connection.get(), &peer) != 1 || peer != 0) {
    failure_ = "Something other than the writer connected";
    done_ = true;
    return;
  }
  connection_ = std::move(connection);
  listener_.reset();
  nextPing_ = std::chrono::steady_clock::now();
}

void DriveSession::read(const EventSink& sink) {
  char buffer[4096];
  const ssize_t n = recv(connection_.get(), buffer, sizeof buffer, 0);
  if (n < 0 && errno == EINTR) return;
  if (n <= 0) {
    failure_ = "The writer ended without a result";
    done_ = true;
    return;
  }
  pending_.append(buffer, static_cast<size_t>(n));
  for (size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
    const std::string line = pending_.substr(0, end);
    const auto event = nlohmann::json::parse(line).get<WriteEvent>();
    if (first_ && (event.stage != "connected" || event.message != request_.nonce)) {
      failure_ = "The writer did not answer with this session's nonce";
      done_ = true;
      return;
    }
    first_ = false;
    clock_.saw(event.stage);
    sink(event, line);
    if (event.stage == "complete" || event.stage == "error" || event.stage == "cancelled") {
      closing_ = event;
      done_ = true;
      return;
    }
    if (event.stage != "connected") reached_ = event.stage;
  }
}
