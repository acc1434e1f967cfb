#include "session/final_report.h"

#include <cstdlib>

#include "session/writer_main.h"
#include "support/unicode_text.h"

namespace FinalReport {

WriteEvent closingEvent(bool stopped, std::string_view description) {
  return {stopped ? "cancelled" : "error", 0, 0,
          prefixGraphemes(toValidUtf8(description), kMessageCharacters)};
}

std::string describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& caught) {
    return caught.what();
  } catch (...) {
    return "Unknown error.";
  }
}

void fail(UniqueFd channel, const Cancellation& cancellation, const std::exception_ptr& error) {
  const WriteEvent closing = closingEvent(cancellation.stopped(), describe(error));
  try {
    WriterMain::event(channel.get(), closing);
  } catch (...) {
    // The Imager is gone or stuck; the exit status still tells the outcome.
  }
  channel.reset();
  std::exit(1);
}

}  // namespace FinalReport
