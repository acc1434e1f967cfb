#pragma once

#include <cstddef>
#include <cstdint>

// The largest stored or expanded image the writer accepts (128 GiB).
inline constexpr int64_t kMaximumImageBytes = int64_t{1} << 37;

// Every pass over an image reads and reports in chunks of this size.
inline constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
