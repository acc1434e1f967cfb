#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace Platform {

struct CFReleaser {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};

// Sole owner of one Core Foundation reference (a Create or Copy result).
template <typename Ref>
using CFOwned = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

}  // namespace Platform
