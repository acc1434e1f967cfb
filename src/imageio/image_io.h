#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "imageio/source_file.h"
#include "records/cancellation.h"
#include "records/image_limits.h"
#include "records/inspection.h"
#include "records/write_event.h"

// The passes over the image and the device.
namespace ImageIO {

// Called with the running total of bytes hashed; may throw.
using HashProgress = std::function<void(int64_t)>;

// Receives each chunk of the expanded image; may throw. The bytes are valid
// only during the call.
using Consumer = std::function<void(std::span<const uint8_t>)>;

struct StreamResult {
  int64_t bytes = 0;   // expanded bytes seen
  std::string sha256;  // their digest, lowercase hex
};

// Re-reads the whole source from offset 0 and returns its SHA-256 as
// lowercase hex. Polls `cancel` before every read. Fails once more than
// `limit` bytes were read.
std::string hashFile(const SourceFile& source, const Cancellation& cancel,
                     const HashProgress& progress, int64_t limit = kMaximumImageBytes);

// One pass over the expanded image from the start of the source: every chunk
// goes to the hash and then to `consume`. Fails unless the image is a
// non-empty multiple of 512 bytes of at most `limit` bytes; fails before
// handing on the chunk that passes it.
StreamResult stream(const SourceFile& source, const Cancellation& cancel, const Consumer& consume,
                    int64_t limit = kMaximumImageBytes);

// Re-proves the source, writes the expanded image to `destination` from
// offset 0 in whole blocks (the last one padded with zeros), flushes, reads
// it back and verifies it. `destination` stays open and owned by the caller.
void writeAndVerify(const SourceFile& source, int destination, const Inspection& inspection,
                    int64_t blockSize, const Cancellation& cancel, const Progress& progress);

// Writes every byte, continuing after partial writes and retrying EINTR.
// Throws "Writing failed. Check the connection and free space.".
void writeAll(int fd, std::span<const uint8_t> bytes);

}  // namespace ImageIO
