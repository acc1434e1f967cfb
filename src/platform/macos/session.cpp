// Session services on macOS: a power assertion against idle sleep, and a
// dispatch timer on a serial queue of its own.

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/pwr_mgt/IOPMLib.h>
#include <dispatch/dispatch.h>

#include "platform/platform.h"
#include "support/system_error.h"

namespace Platform {

static_assert(kIOPMAssertionLevelOn == 255);

uint32_t preventIdleSleep() {
  IOPMAssertionID assertion = 0;
  // The job runs whether or not sleep is held off; a refusal only means there
  // is nothing to release.
  if (IOPMAssertionCreateWithName(kIOPMAssertionTypePreventUserIdleSystemSleep,
                                  kIOPMAssertionLevelOn, CFSTR("Orvane Imager USB write"),
                                  &assertion) != kIOReturnSuccess)
    return 0;
  return assertion;
}

void allowIdleSleep(uint32_t assertion) {
  if (assertion != 0) (void)IOPMAssertionRelease(assertion);
}

namespace {

// Marks each timer's queue with the queue itself, so that cancel can tell it
// is called from a firing.
char queueKey;

struct Handler {
  std::function<void()> run;
};

void fire(void* context) { static_cast<Handler*>(context)->run(); }
void destroy(void* context) { delete static_cast<Handler*>(context); }
void nothing(void*) {}

class DispatchTimer final : public RepeatingTimer {
 public:
  DispatchTimer(std::chrono::milliseconds period, std::unique_ptr<Handler> handler) {
    queue_ = dispatch_queue_create("imager.writer.heartbeat", DISPATCH_QUEUE_SERIAL);
    if (queue_ == nullptr) throwSystemError(ENOMEM);
    dispatch_queue_set_specific(queue_, &queueKey, queue_, nullptr);
    source_ = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue_);
    if (source_ == nullptr) {
      dispatch_release(queue_);
      throwSystemError(ENOMEM);
    }
    // The source owns the handler from here and frees it once the source is
    // released and no firing runs any more.
    dispatch_set_context(source_, handler.release());
    dispatch_set_finalizer_f(source_, destroy);
    dispatch_source_set_event_handler_f(source_, fire);
    const auto interval = std::chrono::duration_cast<std::chrono::nanoseconds>(period).count();
    dispatch_source_set_timer(source_, dispatch_time(DISPATCH_TIME_NOW, 0),
                              static_cast<uint64_t>(interval), 0);
    dispatch_resume(source_);
  }
  ~DispatchTimer() override {
    cancel();
    dispatch_release(source_);  // the source holds the queue while it lives
    dispatch_release(queue_);
  }
  DispatchTimer(const DispatchTimer&) = delete;
  DispatchTimer& operator=(const DispatchTimer&) = delete;

  void cancel() override {
    dispatch_source_cancel(source_);
    // A firing in progress holds the serial queue, so an empty turn on it
    // waits for that firing; the handler itself cannot wait for its own end.
    if (dispatch_get_specific(&queueKey) != queue_) dispatch_sync_f(queue_, nullptr, nothing);
  }

 private:
  dispatch_queue_t queue_ = nullptr;
  dispatch_source_t source_ = nullptr;
};

}  // namespace

std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::chrono::milliseconds period,
                                                    std::function<void()> handler) {
  return std::make_unique<DispatchTimer>(period,
                                         std::make_unique<Handler>(Handler{std::move(handler)}));
}

}  // namespace Platform
