#include "disks/property_list.h"

#include <limits>

#include "disks/plist_shape.h"
#include "platform/platform.h"

using Platform::PlistNode;

namespace {

PlistNode::Type typeOf(const PlistNode* node) {
  return node ? node->type : PlistNode::Type::Other;
}

}  // namespace

bool PlistValue::isDictionary() const { return typeOf(node_) == PlistNode::Type::Dictionary; }
bool PlistValue::isArray() const { return typeOf(node_) == PlistNode::Type::Array; }

std::optional<std::string> PlistValue::string() const {
  if (typeOf(node_) != PlistNode::Type::String) return std::nullopt;
  return node_->text;
}

std::optional<bool> PlistValue::boolean() const {
  if (typeOf(node_) != PlistNode::Type::Boolean) return std::nullopt;
  return node_->flag;
}

std::optional<uint64_t> PlistValue::number() const {
  if (typeOf(node_) == PlistNode::Type::Integer) return node_->integer;
  if (typeOf(node_) != PlistNode::Type::Real) return std::nullopt;
  const double value = node_->real;
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (!(value > 0)) return 0;
  if (value >= kTwoTo64) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

std::size_t PlistValue::size() const {
  return isArray() || isDictionary() ? node_->elements.size() : 0;
}

PlistValue PlistValue::at(std::size_t index) const {
  if (!isArray() || index >= size()) return PlistValue();
  return PlistValue(&node_->elements[index]);
}

PlistValue PlistValue::operator[](const std::string& key) const {
  if (!isDictionary()) return PlistValue();
  // Of repeated keys the first one counts.
  for (std::size_t i = 0; i < node_->keys.size(); ++i)
    if (node_->keys[i] == key) return PlistValue(&node_->elements[i]);
  return PlistValue();
}

PropertyList::PropertyList(std::unique_ptr<PlistNode> tree) : tree_(std::move(tree)) {}
PropertyList::PropertyList(PropertyList&&) noexcept = default;
PropertyList& PropertyList::operator=(PropertyList&&) noexcept = default;
PropertyList::~PropertyList() = default;

PropertyList PropertyList::parse(std::string_view bytes) {
  if (bytes.empty() || !PlistShape::withinBounds(bytes)) throw PropertyListError();
  std::optional<PlistNode> tree =
      Platform::parsePropertyList(PlistShape::withWholeSurrogates(bytes));
  if (!tree) throw PropertyListError();
  return PropertyList(std::make_unique<PlistNode>(std::move(*tree)));
}
