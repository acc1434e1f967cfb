#pragma once

#include <optional>
#include <string>
#include <string_view>

// Reading /proc/self/mountinfo: one mount per line, the mount point in the
// fifth field, with blank, tab, line feed and backslash written as octal
// escapes ("\040" for a blank).

// A mount point field with its escapes undone; a backslash that does not
// start three octal digits is kept as it stands.
std::string unescapeMountField(std::string_view field);

// The longest mount point in `mountInfo` that is `path` or one of its
// ancestors; `path` is absolute and already resolved. Nothing when none is.
std::optional<std::string> longestMountPoint(std::string_view mountInfo, std::string_view path);
