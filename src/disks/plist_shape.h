#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bounds on the shape of a property list, checked before the system's parser
// sees it. Parsers recurse once per level of nesting and may copy a binary
// list's object once for every reference to it, so a small hostile document
// could otherwise exhaust the stack or the memory. Real disk information nests a
// few levels deep and holds a few hundred values.
namespace PlistShape {

inline constexpr std::size_t kMaximumDepth = 128;
inline constexpr std::size_t kMaximumValues = 65536;

// False when `bytes`, taken as the parser takes them (binary when they start
// with "bplist00", XML otherwise), nest arrays and dictionaries more than
// kMaximumDepth deep or, for a binary list, expand to more than
// kMaximumValues values, refer to themselves, name a dictionary key by
// anything but a string without a NUL, or have a structure that cannot be
// followed. Validity is otherwise left to the parser.
bool withinBounds(std::string_view bytes);

// `bytes` with every lone UTF-16 surrogate of a binary list's strings
// replaced by U+FFFD, which takes the same two bytes; anything else as it is.
// One parser drops such a unit and another cuts the string short at it, so
// both are given the replacement instead.
std::string withWholeSurrogates(std::string_view bytes);

}  // namespace PlistShape
