#pragma once

#include <functional>

#include "records/cancellation.h"
#include "records/write_event.h"
#include "records/write_request.h"

// The writer process: one request in, one job, one exit.
namespace WriterMain {

// A write job: runs the request to a verified drive or throws.
using Job = std::function<void(const WriteRequest&, Cancellation&, const Progress&)>;

// The process entry: serves the request with `perform`. Never returns; exits
// 0 only after "complete" was sent, 1 on every other path.
[[noreturn]] void main(int argc, char** argv);

// `main` with another job in place of `perform`, so that the session can be
// driven without writing a drive.
[[noreturn]] void serve(int argc, char** argv, const Job& job);

// Sends one event as one JSON line on the non-blocking channel `fd`, waiting
// out a full socket for at most 3 seconds. Throws the encoder's error (nothing
// sent) or "Imager disconnected. Writing stopped." (part of the line may have
// gone). Never closes `fd`.
void event(int fd, const WriteEvent& event);

// One write job from a validated request to a verified, flushed and closed
// drive. Polls `cancellation`; sends progress through `progress`.
void perform(const WriteRequest& request, Cancellation& cancellation, const Progress& progress);

}  // namespace WriterMain
