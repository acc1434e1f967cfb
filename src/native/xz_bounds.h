#pragma once

#include <string>

namespace orvane::imager {

// Reads, before anything is decoded, what an xz image will ask its decoder
// for: the filters and the LZMA2 dictionary of every block, found through
// each stream's index from the end of the file. True when the bytes of `fd`
// from its current offset to its end are not xz at all, or when every block
// uses only LZMA2 (after any branch or delta filter) with a dictionary of at
// most 64 MiB, what `xz -9e` uses; otherwise false with `*error` (when not
// null) set. Reads with pread only: the offset does not move. Never throws.
bool XzWithinBounds(int fd, std::string* error);

}  // namespace orvane::imager
