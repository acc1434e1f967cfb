#include <cstdint>

#include "records/image_limits.h"
#include "records/imager_error.h"
#include "records/write_request.h"
#include "support/patterns.h"

namespace {

void require(bool condition, const char* message) {
  if (!condition) throw ImagerError::message(message);
}

}  // namespace

void WriteRequest::validate() const {
  const char* owner = "Invalid image owner/path.";
  require(version == 1, owner);
  require(uid >= 500, owner);
  require(!source.empty() && source.front() == '/', owner);
  require(source.size() <= 4095, owner);
  require(source.find('\0') == std::string::npos, owner);

  const char* targetMessage = "Invalid target.";
  require(isShortWholeDiskName(target.bsd), targetMessage);
  require(target.registryID != 0, targetMessage);
  require(target.capacity != 0, targetMessage);

  const char* channel = "Invalid writer channel.";
  require(isChannelPath(socket), channel);
  require(isCanonicalUuid(nonce), channel);

  const char* image = "Invalid image inspection.";
  require(inspection.bytes >= 1 && inspection.bytes <= kMaximumImageBytes, image);
  require(inspection.expanded >= 1 && inspection.expanded <= kMaximumImageBytes, image);
  require(inspection.expanded % 512 == 0, image);
  require(isHexDigest(inspection.sha256), image);
  require(isHexDigest(inspection.expandedSHA256), image);
}
