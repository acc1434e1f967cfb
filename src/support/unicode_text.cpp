#include "support/unicode_text.h"

#include "platform/platform.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence that `lead` starts and the allowed range
// of its second byte; later bytes are always 0x80..0xBF.
struct LeadInfo {
  int length;
  unsigned char low;
  unsigned char high;
};

LeadInfo leadInfo(unsigned char lead) {
  if (lead < 0x80) return {1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// Number of bytes of a well-formed character at `at`, or, as a negative value,
// the length of the maximal ill-formed subpart to replace.
int sequenceLength(std::string_view bytes, std::size_t at) {
  const LeadInfo info = leadInfo(static_cast<unsigned char>(bytes[at]));
  if (info.length == 0) return -1;
  int taken = 1;
  for (; taken < info.length; ++taken) {
    if (at + taken >= bytes.size()) return -taken;
    const auto byte = static_cast<unsigned char>(bytes[at + taken]);
    const unsigned char low = taken == 1 ? info.low : 0x80;
    const unsigned char high = taken == 1 ? info.high : 0xBF;
    if (byte < low || byte > high) return -taken;
  }
  return taken;
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const int length = sequenceLength(bytes, at);
    if (length < 0) return false;
    at += static_cast<std::size_t>(length);
  }
  return true;
}

}  // namespace

std::string toValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const int length = sequenceLength(bytes, at);
    if (length > 0) {
      out.append(bytes.substr(at, static_cast<std::size_t>(length)));
      at += static_cast<std::size_t>(length);
    } else {
      out.append(kReplacement);
      at += static_cast<std::size_t>(-length);
    }
  }
  return out;
}

std::string prefixGraphemes(std::string_view utf8, std::size_t count) {
  if (!isValidUtf8(utf8)) return std::string(utf8);  // callers sanitise first
  return std::string(utf8.substr(0, Platform::graphemePrefixSize(utf8, count)));
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (!isValidUtf8(a) || !isValidUtf8(b)) return false;
  const auto left = Platform::composedForm(a);
  const auto right = Platform::composedForm(b);
  return left && right && *left == *right;
}
