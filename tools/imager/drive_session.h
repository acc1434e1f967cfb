#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "channel_directory.h"
#include "job_summary.h"
#include "records/write_event.h"
#include "records/write_request.h"
#include "session_user.h"
#include "support/unique_fd.h"

// One writer at work on one drive: its channel, its process and what it has
// said. Several run side by side, served by one poll loop. Destroying a
// session closes its channel, which tells a writer still at work to stop,
// and waits for the writer to end: none is left behind.
class DriveSession {
 public:
  using EventSink = std::function<void(const WriteEvent& event, const std::string& line)>;

  // Listens on a fresh channel and starts the writer for `request` (whose
  // socket and nonce it fills in). Throws what the launch throws.
  DriveSession(WriteRequest request, const SessionUser& user, const std::string& writer);
  ~DriveSession();
  DriveSession(const DriveSession&) = delete;
  DriveSession& operator=(const DriveSession&) = delete;

  // The descriptor to wait on: the connection, or the listener before it.
  int descriptor() const { return connection_ ? connection_.get() : listener_.get(); }
  bool done() const { return done_; }
  // Serves the descriptor once it is readable (or a poll interval passed):
  // accepts the writer, reads its events (handing each to `sink`), pings it.
  void serve(bool readable, const EventSink& sink);
  // Closes the channel and waits for the writer; returns its exit status.
  int end();

  const WriteRequest& request() const { return request_; }
  const std::optional<WriteEvent>& closing() const { return closing_; }
  // The stage of the last progress event, e.g. "writing"; "" before any.
  const std::string& reached() const { return reached_; }
  // Why the session ended without a closing event, if it did.
  const std::string& failure() const { return failure_; }
  const JobClock& clock() const { return clock_; }

 private:
  void accept();
  void read(const EventSink& sink);

  WriteRequest request_;
  ChannelDirectory channel_;
  UniqueFd listener_;
  UniqueFd connection_;
  pid_t writer_ = -1;
  std::optional<int> status_;
  std::string pending_;
  bool first_ = true;
  bool done_ = false;
  std::optional<WriteEvent> closing_;
  std::string reached_;
  std::string failure_;
  JobClock clock_;
  std::chrono::steady_clock::time_point nextPing_;
};
