#pragma once

#include <string>

// Packs the raw image at `raw` with the standard command-line tool (the first
// on the test's own PATH) into `raw`
// and `suffix` (".gz", ".xz", or ".zip" holding it as its one entry) and
// returns that path; "" leaves the image as it is.
std::string pack(const std::string& raw, const std::string& suffix);

// The SHA-256 of `bytes` as lowercase hex.
std::string sha256Of(const std::string& bytes);
