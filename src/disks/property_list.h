#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Platform {
struct PlistNode;
}

// A parsed property list (XML or binary) and read-only views into it.

// The parser's own failure: the bytes are not a property list.
class PropertyListError : public std::runtime_error {
 public:
  PropertyListError() : std::runtime_error("The data is not in the property list format.") {}
};

// One value inside a PropertyList, valid while the list lives. A view may
// be empty (a missing key or element); a typed read of an empty view or of a
// value of another type gives nothing, so a missing key and a wrong type
// look the same to callers.
class PlistValue {
 public:
  PlistValue() = default;

  bool present() const { return node_ != nullptr; }
  bool isDictionary() const;
  bool isArray() const;

  std::optional<std::string> string() const;
  std::optional<bool> boolean() const;
  // Integers as stored (a negative one as its unsigned 64-bit pattern); reals
  // truncated toward zero, saturating at 0 and at the largest value.
  std::optional<uint64_t> number() const;

  // Elements of an array or members of a dictionary; 0 for anything else.
  std::size_t size() const;
  // An array's element; empty when this is not an array or out of range.
  PlistValue at(std::size_t index) const;
  // A dictionary's member; empty when this is not a dictionary or has no such key.
  PlistValue operator[](const std::string& key) const;

 private:
  friend class PropertyList;
  explicit PlistValue(const Platform::PlistNode* node) : node_(node) {}
  const Platform::PlistNode* node_ = nullptr;
};

class PropertyList {
 public:
  // Parses XML or binary property-list bytes; throws PropertyListError when
  // they are neither, or are shaped beyond the bounds of disks/plist_shape.h.
  static PropertyList parse(std::string_view bytes);

  PropertyList(PropertyList&&) noexcept;
  PropertyList& operator=(PropertyList&&) noexcept;
  ~PropertyList();

  PlistValue root() const { return PlistValue(tree_.get()); }

 private:
  explicit PropertyList(std::unique_ptr<Platform::PlistNode> tree);
  std::unique_ptr<Platform::PlistNode> tree_;
};
