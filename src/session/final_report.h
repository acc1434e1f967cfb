#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "records/cancellation.h"
#include "records/write_event.h"
#include "support/unique_fd.h"

// How a session that failed after the channel existed tells the Imager.
namespace FinalReport {

// The longest closing message, in user-perceived characters.
inline constexpr std::size_t kMessageCharacters = 1000;

// "cancelled" when the stop flag was set, otherwise "error", with
// `description` made valid UTF-8 and cut to kMessageCharacters.
WriteEvent closingEvent(bool stopped, std::string_view description);

// The text of a caught error: what() for a standard exception.
std::string describe(const std::exception_ptr& error);

// Sends the closing event for `error` (a failed send changes nothing), closes
// the channel and exits with status 1.
[[noreturn]] void fail(UniqueFd channel, const Cancellation& cancellation,
                       const std::exception_ptr& error);

}  // namespace FinalReport
