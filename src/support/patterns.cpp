#include "support/patterns.h"

#include <cstddef>

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (lower(c) >= 'a' && lower(c) <= 'f'); }

// Consumes `literal` (lower case) from the front of `text`, ignoring case.
bool consume(std::string_view& text, std::string_view literal) {
  if (text.size() < literal.size()) return false;
  for (std::size_t i = 0; i < literal.size(); ++i)
    if (lower(text[i]) != literal[i]) return false;
  text.remove_prefix(literal.size());
  return true;
}

// Consumes a run of digits and returns its length.
std::size_t consumeDigits(std::string_view& text) {
  std::size_t n = 0;
  while (n < text.size() && isDigit(text[n])) ++n;
  text.remove_prefix(n);
  return n;
}

template <typename Predicate>
bool all(std::string_view text, Predicate predicate) {
  for (char c : text)
    if (!predicate(c)) return false;
  return true;
}

}  // namespace

bool isWholeDiskName(std::string_view text) {
  return consume(text, "disk") && consumeDigits(text) > 0 && text.empty();
}

bool isShortWholeDiskName(std::string_view text) {
  if (!consume(text, "disk")) return false;
  const std::size_t digits = consumeDigits(text);
  return digits >= 1 && digits <= 5 && text.empty();
}

bool isPartitionName(std::string_view text) {
  return consume(text, "disk") && consumeDigits(text) > 0 && consume(text, "s") &&
         consumeDigits(text) > 0 && text.empty();
}

bool isHexDigest(std::string_view text) { return text.size() == 64 && all(text, isHex); }

bool isChannelPath(std::string_view text) {
  if (!consume(text, "/private/tmp/ori-") || text.size() != 36 + 2) return false;
  const std::string_view id = text.substr(0, 36);
  text.remove_prefix(36);
  return all(id, [](char c) { return isHex(c) || c == '-'; }) && consume(text, "/s");
}

bool isCanonicalUuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? text[i] != '-' : !isHex(text[i])) return false;
  }
  return true;
}
