#pragma once

#include <string_view>

// Whole-value pattern tests for identifiers, paths and digests. Letters match
// in either ASCII case; nothing before or after the pattern is accepted (not
// even a trailing line feed). Written as plain loops: no backtracking, no
// recursion, linear in the input.

// "disk" followed by one or more digits ("^disk[0-9]+$").
bool isWholeDiskName(std::string_view text);

// "disk" followed by one to five digits ("^disk[0-9]{1,5}$"): the only names
// the writer acts on.
bool isShortWholeDiskName(std::string_view text);

// A partition of a whole disk ("^disk[0-9]+s[0-9]+$").
bool isPartitionName(std::string_view text);

// 64 hexadecimal digits in either case ("^[a-f0-9]{64}$").
bool isHexDigest(std::string_view text);

// "/private/tmp/ori-", 36 hexadecimal digits or hyphens in any arrangement,
// then "/s".
bool isChannelPath(std::string_view text);

// The canonical textual form of a UUID: hexadecimal digits in either case in
// groups of 8, 4, 4, 4 and 12 joined by single hyphens.
bool isCanonicalUuid(std::string_view text);
