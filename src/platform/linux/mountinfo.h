#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Reading /proc/self/mountinfo: one mount per line, its id in the first
// field, the device as major:minor in the third, the mount point in the fifth, with blank, tab, line feed and backslash written as octal
// escapes ("\040" for a blank).

// A mount point field with its escapes undone; a backslash that does not
// start three octal digits is kept as it stands.
std::string unescapeMountField(std::string_view field);

// The mount that holds a file at `path` (absolute, already resolved): the
// mount with id `mountID` when the system told it, otherwise the last listed
// of the mounts of `device` whose mount point is `path` or one of its
// ancestors, the one a later mount has not hidden. Its mount point, or
// nothing when no mount fits.
std::optional<std::string> mountPointHolding(std::string_view mountInfo, std::string_view path,
                                             std::optional<uint64_t> mountID,
                                             std::string_view device);
