#pragma once

#include <cstdint>

// Whether an image file whose owner reads as `fileOwner` counts as `user`'s
// own. On a volume that ignores ownership (FAT, exFAT, or one mounted so)
// macOS shows root every file as owned by the unknown user, 99, and lets
// every user read every file there; such a file is the user's as much as
// anyone's, so nothing is opened that the user could not open.
bool countsAsOwnFile(uint32_t fileOwner, uint32_t user, bool ownershipIgnored);
