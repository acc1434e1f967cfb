#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// What the imager learns about an image from its directory entry and its
// first bytes, before reading it through.
struct ImageFacts {
  std::string path;     // absolute, links resolved
  int64_t bytes = 0;    // stored size
  std::string packing;  // "gzip", "xz", "zip", or "" for a raw image
};

// Refuses (Refusal, ExitCode::badImage) what the writer would refuse or
// write wrongly, telling the causes apart: missing, a folder, a special file,
// another user's file, a file with other hard links, unreadable, locked,
// empty, over the size limit, packed in a way the writer does not decode,
// named as packed but not, or a raw image that is not whole sectors.
ImageFacts checkImage(const std::string& typed, uid_t owner);

// The refusal for a gzip or xz image whose decoding failed: damaged or
// incomplete, with the decoder's words as the detail.
[[noreturn]] void refuseDamaged(const std::string& typed, const std::string& packing,
                                const std::string& decoderMessage);
