#pragma once

#include "records/cancellation.h"
#include "records/write_event.h"
#include "records/write_request.h"

// The writer process: one request in, one job, one exit.
namespace WriterMain {

// The process entry: takes the request, connects to the Imager and runs
// `perform`. Never returns; exits 0 only after "complete" was sent, 1 on
// every other path.
[[noreturn]] void main(int argc, char** argv);

// Sends one event as one JSON line on the non-blocking channel `fd`, waiting
// out a full socket for at most 3 seconds. Throws the encoder's error (nothing
// sent) or "Imager disconnected. Writing stopped." (part of the line may have
// gone). Never closes `fd`.
void event(int fd, const WriteEvent& event);

// One write job from a validated request to a verified, flushed and closed
// drive. Polls `cancellation`; sends progress through `progress`.
void perform(const WriteRequest& request, Cancellation& cancellation, const Progress& progress);

}  // namespace WriterMain
