#pragma once

#include <cstddef>
#include <string_view>

#include "records/write_request.h"

namespace Intake {

// The largest decoded request accepted.
inline constexpr std::size_t kMaximumRequestBytes = 16384;

// The validated request from the process's arguments: the caller must be root
// and pass exactly one argument, the Base64 text of the JSON request. Throws
// ImagerError, the JSON parser's error or DecodingError.
WriteRequest readRequest(int argc, char** argv);

// The validated request from the argument's text, with the same errors as
// readRequest; the caller's privilege is not looked at.
WriteRequest decodeRequest(std::string_view argument);

}  // namespace Intake
