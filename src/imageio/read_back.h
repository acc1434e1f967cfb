#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/cancellation.h"
#include "records/write_event.h"

namespace ImageIO {

// Reads the first `expected` bytes of `destination` from its current offset
// in whole blocks of at most kChunkBytes, sending "verifying" after each read,
// and returns their SHA-256 as lowercase hex. The rest of the last block must
// be zero. Throws "USB read-back failed." for any read that is not exactly
// the length asked for, "USB padding verification failed." and cancelled.
std::string readBack(int destination, int64_t expected, std::size_t blockSize,
                     const Cancellation& cancel, const Progress& progress);

}  // namespace ImageIO
