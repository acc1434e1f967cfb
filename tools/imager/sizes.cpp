#include "sizes.h"

#include <cstdio>

std::string sizeText(int64_t bytes) {
  const double value = static_cast<double>(bytes);
  char text[32];
  if (bytes < 1000)
    std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
  else if (value < 1e6)
    std::snprintf(text, sizeof text, "%.1f KB", value / 1e3);
  else if (value < 1e9)
    std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
  else
    std::snprintf(text, sizeof text, "%.2f GB", value / 1e9);
  return text;
}

std::string exactCount(int64_t count) {
  std::string digits = std::to_string(count), grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}
