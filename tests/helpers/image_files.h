#pragma once

#include <string>

// The shapes an image file comes in.
enum class Packing { Raw, Gzip, Xz, Zip };

const char* packingName(Packing packing);

// Packs the raw image at `raw` with the standard command-line tool and returns
// the new file's path (`raw` itself for Packing::Raw). A zip holds the image
// as its one entry.
std::string pack(const std::string& raw, Packing packing);

// The SHA-256 of `bytes` as lowercase hex.
std::string sha256Of(const std::string& bytes);
