#pragma once

#include <string>
#include <string_view>

// `text` fit for one line of a terminal or a log: every control character
// (C0, DEL and C1) becomes a blank, so that a drive's name or a message
// cannot move the cursor or start an escape sequence.
std::string plainText(std::string_view text);
