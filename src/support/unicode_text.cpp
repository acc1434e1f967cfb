#include "support/unicode_text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <optional>

// One Unicode implementation on every system, so that a name or message is
// cut and compared alike wherever the writer runs.

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

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Valid UTF-8 `text` in normalization form C; nothing when it cannot be
// converted.
std::optional<std::string> composedForm(std::string_view text) {
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t length = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
      static_cast<utf8proc_ssize_t>(text.size()), &mapped,
      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owner(mapped);
  if (length < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

// The bytes the first `count` extended grapheme clusters of valid UTF-8
// `text` take; text.size() when it has no more.
std::size_t graphemePrefixSize(std::string_view text, std::size_t count) {
  const auto* data = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t clusters = 0;
  for (utf8proc_ssize_t at = 0; at < size;) {
    utf8proc_int32_t codepoint = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(data + at, size - at, &codepoint);
    if (length <= 0) break;  // the caller passes valid text only
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codepoint, &state)) {
      if (clusters == count) return static_cast<std::size_t>(at);
      ++clusters;
    }
    previous = codepoint;
    at += length;
  }
  return text.size();
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

std::string utf8FromUtf16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 3);
  for (std::size_t at = 0; at < units.size(); ++at) {
    char32_t code = units[at];
    const bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && at + 1 < units.size() && units[at + 1] >= 0xDC00 && units[at + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (units[++at] - 0xDC00);
    else if (code >= 0xD800 && code <= 0xDFFF)
      code = 0xFFFD;
    utf8proc_uint8_t bytes[4];
    const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(code), bytes);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
  }
  return out;
}

std::string prefixGraphemes(std::string_view utf8, std::size_t count) {
  if (!isValidUtf8(utf8)) return std::string(utf8);  // callers sanitise first
  return std::string(utf8.substr(0, graphemePrefixSize(utf8, count)));
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (!isValidUtf8(a) || !isValidUtf8(b)) return false;
  const auto left = composedForm(a);
  const auto right = composedForm(b);
  return left && right && *left == *right;
}
