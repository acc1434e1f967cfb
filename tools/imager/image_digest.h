#pragma once

#include <optional>
#include <string>

#include "records/inspection.h"

// The digest the image should have: `given` (64 hex digits, else a usage
// Refusal), or the first word of IMAGE.sha256 beside `typed` when there is
// one (a badImage Refusal when it holds no digest), or nothing.
std::optional<std::string> expectedDigest(const std::optional<std::string>& given,
                                          const std::string& typed);

// Refuses (badImage) an image whose stored or expanded digest is not `expected`.
void checkDigest(const std::optional<std::string>& expected, const Inspection& inspection,
                 const std::string& typed);
