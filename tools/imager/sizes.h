#pragma once

#include <cstdint>
#include <string>

// A size for people, in powers of 1000: "512 B", "12.3 KB", "100.7 MB" (under
// 1 GB), "1.07 GB".
std::string sizeText(int64_t bytes);

// A whole number with thousands separators: "100,663,296".
std::string exactCount(int64_t count);
