#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Decodes `bytes` as UTF-8, replacing each maximal ill-formed subsequence
// (an invalid byte, or a character cut short) with one U+FFFD.
std::string toValidUtf8(std::string_view bytes);

// UTF-16 `units` as UTF-8, each surrogate that is not part of a pair
// replaced with U+FFFD.
std::string utf8FromUtf16(std::u16string_view units);

// The first `count` user-perceived characters (extended grapheme clusters) of
// valid UTF-8 text; the whole text when it has no more than `count`.
std::string prefixGraphemes(std::string_view utf8, std::size_t count);

// True when the two texts are canonically equivalent Unicode (equal after
// NFC). Texts that are not valid UTF-8 compare byte for byte.
bool canonicallyEqual(std::string_view a, std::string_view b);
