// Unicode services on Linux, from utf8proc.

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "platform/platform.h"

namespace Platform {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

std::optional<std::string> composedForm(std::string_view text) {
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t length = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
      static_cast<utf8proc_ssize_t>(text.size()), &mapped,
      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owner(mapped);
  if (length < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

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

}  // namespace Platform
