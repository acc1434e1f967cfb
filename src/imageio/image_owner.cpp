#include "imageio/image_owner.h"

namespace {

constexpr uint32_t kUnknownUser = 99;

}  // namespace

bool countsAsOwnFile(uint32_t fileOwner, uint32_t user, bool ownershipIgnored) {
  return fileOwner == user || (ownershipIgnored && fileOwner == kUnknownUser);
}
