#pragma once

#include <optional>
#include <string>
#include <string_view>

// Strict Base64 (standard alphabet): the length is a multiple of four, padding
// is required and appears only at the end, unused bits are zero, and no
// character is skipped. Nothing when `text` is not such Base64.
std::optional<std::string> decodeBase64(std::string_view text);

std::string encodeBase64(std::string_view bytes);
