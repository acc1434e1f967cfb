// Unicode services on macOS, from Core Foundation.

#include <CoreFoundation/CoreFoundation.h>

#include <climits>

#include "platform/macos/cf_holder.h"
#include "platform/platform.h"

namespace Platform {

namespace {

CFOwned<CFStringRef> cfString(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  return CFOwned<CFStringRef>(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
      static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

// The UTF-8 size of the UTF-16 range `range` of `string`.
CFIndex utf8Size(CFStringRef string, CFRange range) {
  CFIndex bytes = 0;
  CFStringGetBytes(string, range, kCFStringEncodingUTF8, 0, false, nullptr, 0, &bytes);
  return bytes;
}

}  // namespace

std::optional<std::string> composedForm(std::string_view text) {
  const CFOwned<CFStringRef> string = cfString(text);
  if (!string) return std::nullopt;
  const CFOwned<CFMutableStringRef> composed(
      CFStringCreateMutableCopy(kCFAllocatorDefault, 0, string.get()));
  if (!composed) return std::nullopt;
  CFStringNormalize(composed.get(), kCFStringNormalizationFormC);
  const CFRange all = CFRangeMake(0, CFStringGetLength(composed.get()));
  std::string out(static_cast<std::size_t>(utf8Size(composed.get(), all)), '\0');
  CFIndex written = 0;
  CFStringGetBytes(composed.get(), all, kCFStringEncodingUTF8, 0, false,
                   reinterpret_cast<UInt8*>(out.data()), static_cast<CFIndex>(out.size()),
                   &written);
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::size_t graphemePrefixSize(std::string_view text, std::size_t count) {
  const CFOwned<CFStringRef> string = cfString(text);
  if (!string) return text.size();  // the caller passes valid text only
  const CFIndex length = CFStringGetLength(string.get());
  CFIndex at = 0;
  for (std::size_t clusters = 0; at < length && clusters < count; ++clusters) {
    const CFRange cluster = CFStringGetRangeOfComposedCharactersAtIndex(string.get(), at);
    at = cluster.location + (cluster.length > 0 ? cluster.length : 1);
  }
  if (at >= length) return text.size();
  return static_cast<std::size_t>(utf8Size(string.get(), CFRangeMake(0, at)));
}

}  // namespace Platform
