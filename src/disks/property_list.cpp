#include "disks/property_list.h"

#include <plist/plist.h>

#include <cmath>
#include <limits>

#include "disks/plist_shape.h"

namespace {

plist_type typeOf(void* node) { return node ? plist_get_node_type(node) : PLIST_NONE; }

}  // namespace

bool PlistValue::isDictionary() const { return typeOf(node_) == PLIST_DICT; }
bool PlistValue::isArray() const { return typeOf(node_) == PLIST_ARRAY; }

std::optional<std::string> PlistValue::string() const {
  if (typeOf(node_) != PLIST_STRING) return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node_, &length);
  if (text == nullptr) return std::string();
  return std::string(text, static_cast<std::size_t>(length));
}

std::optional<bool> PlistValue::boolean() const {
  if (typeOf(node_) != PLIST_BOOLEAN) return std::nullopt;
  uint8_t value = 0;
  plist_get_bool_val(node_, &value);
  return value != 0;
}

std::optional<uint64_t> PlistValue::number() const {
  if (typeOf(node_) == PLIST_UINT) {
    uint64_t value = 0;
    plist_get_uint_val(node_, &value);
    return value;
  }
  if (typeOf(node_) != PLIST_REAL) return std::nullopt;
  double value = 0;
  plist_get_real_val(node_, &value);
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (!(value > 0)) return 0;
  if (value >= kTwoTo64) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

std::size_t PlistValue::size() const {
  if (isArray()) return plist_array_get_size(node_);
  if (isDictionary()) return plist_dict_get_size(node_);
  return 0;
}

PlistValue PlistValue::at(std::size_t index) const {
  if (!isArray() || index >= size()) return PlistValue();
  return PlistValue(plist_array_get_item(node_, static_cast<uint32_t>(index)));
}

PlistValue PlistValue::operator[](const std::string& key) const {
  // The library looks keys up as C strings: a key with a NUL cannot match.
  if (!isDictionary() || key.find('\0') != std::string::npos) return PlistValue();
  return PlistValue(plist_dict_get_item(node_, key.c_str()));
}

void PropertyList::Free::operator()(void* tree) const { plist_free(tree); }

PropertyList PropertyList::parse(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max() ||
      !PlistShape::withinBounds(bytes))
    throw PropertyListError();
  plist_t tree = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &tree);
  if (tree == nullptr) throw PropertyListError();
  return PropertyList(tree);
}
