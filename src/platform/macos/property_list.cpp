// Property lists on macOS, from Core Foundation's parser.

#include <CoreFoundation/CoreFoundation.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/macos/cf_holder.h"
#include "platform/platform.h"
#include "support/unicode_text.h"

namespace Platform {

namespace {

// Through UTF-16, so that a lone surrogate becomes U+FFFD instead of ending
// the conversion there.
std::string utf8(CFStringRef string) {
  std::u16string units(static_cast<std::size_t>(CFStringGetLength(string)), u'\0');
  CFStringGetCharacters(string, CFRangeMake(0, static_cast<CFIndex>(units.size())),
                        reinterpret_cast<UniChar*>(units.data()));
  return utf8FromUtf16(units);
}

void copyNumber(CFNumberRef number, PlistNode& out) {
  if (CFNumberIsFloatType(number)) {
    out.type = PlistNode::Type::Real;
    CFNumberGetValue(number, kCFNumberDoubleType, &out.real);
    return;
  }
  out.type = PlistNode::Type::Integer;
  SInt64 value = 0;
  if (CFNumberGetValue(number, kCFNumberSInt64Type, &value)) {
    out.integer = static_cast<uint64_t>(value);
    return;
  }
  // Only an unsigned value above the signed range gets here; no public type
  // holds it exactly, and no size the writer handles comes near it.
  double approximate = 0;
  CFNumberGetValue(number, kCFNumberDoubleType, &approximate);
  out.integer = approximate >= 18446744073709551616.0 ? UINT64_MAX
                                                       : static_cast<uint64_t>(approximate);
}

PlistNode copy(CFTypeRef value);

void copyDictionary(CFDictionaryRef dictionary, PlistNode& out) {
  const auto count = static_cast<std::size_t>(CFDictionaryGetCount(dictionary));
  std::vector<const void*> keys(count), values(count);
  CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  for (std::size_t i = 0; i < count; ++i) {
    if (CFGetTypeID(keys[i]) != CFStringGetTypeID()) continue;
    out.keys.push_back(utf8(static_cast<CFStringRef>(keys[i])));
    out.elements.push_back(copy(values[i]));
  }
}

// Recursion is bounded by the shape check the caller made.
PlistNode copy(CFTypeRef value) {
  PlistNode out;
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) {
    out.type = PlistNode::Type::String;
    out.text = utf8(static_cast<CFStringRef>(value));
  } else if (type == CFBooleanGetTypeID()) {
    out.type = PlistNode::Type::Boolean;
    out.flag = CFBooleanGetValue(static_cast<CFBooleanRef>(value));
  } else if (type == CFNumberGetTypeID()) {
    copyNumber(static_cast<CFNumberRef>(value), out);
  } else if (type == CFArrayGetTypeID()) {
    out.type = PlistNode::Type::Array;
    const auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    out.elements.reserve(static_cast<std::size_t>(count));
    for (CFIndex i = 0; i < count; ++i) out.elements.push_back(copy(CFArrayGetValueAtIndex(array, i)));
  } else if (type == CFDictionaryGetTypeID()) {
    out.type = PlistNode::Type::Dictionary;
    copyDictionary(static_cast<CFDictionaryRef>(value), out);
  }
  return out;
}

// The parser also reads the old text format, whose nesting the shape check
// does not bound. Text that opens with '<' is XML, or at most a single data
// value in that format, which nests nothing.
bool opensLikeXml(std::string_view bytes) {
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && bytes[first] == '<';
}

}  // namespace

std::optional<PlistNode> parsePropertyList(std::string_view bytes) {
  const bool binary = bytes.substr(0, 8) == "bplist00";
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(LONG_MAX) ||
      (!binary && !opensLikeXml(bytes)))
    return std::nullopt;
  const CFOwned<CFDataRef> data(CFDataCreateWithBytesNoCopy(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes.data()),
      static_cast<CFIndex>(bytes.size()), kCFAllocatorNull));
  if (!data) return std::nullopt;
  CFPropertyListFormat format{};
  const CFOwned<CFPropertyListRef> tree(CFPropertyListCreateWithData(
      kCFAllocatorDefault, data.get(), kCFPropertyListImmutable, &format, nullptr));
  const CFPropertyListFormat expected =
      binary ? kCFPropertyListBinaryFormat_v1_0 : kCFPropertyListXMLFormat_v1_0;
  if (!tree || format != expected) return std::nullopt;
  return copy(tree.get());
}

}  // namespace Platform
