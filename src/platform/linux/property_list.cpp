// Property lists on Linux, from libplist. Only the XML and binary parsers are
// called: their signatures are the same in every release we build against,
// and no other format (JSON, OpenStep) is ever taken.

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "support/unicode_text.h"

namespace Platform {

namespace {

struct TreeFree {
  void operator()(void* tree) const { plist_free(static_cast<plist_t>(tree)); }
};

// The three bytes libplist writes for a UTF-16 surrogate that a character
// reference names (&#xD800;), as that unit; -1 for anything else.
int surrogateAt(std::string_view text, std::size_t at) {
  if (at + 3 > text.size() || static_cast<unsigned char>(text[at]) != 0xED) return -1;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  const auto third = static_cast<unsigned char>(text[at + 2]);
  if (second < 0xA0 || second > 0xBF || third < 0x80 || third > 0xBF) return -1;
  return 0xD000 | (second & 0x3F) << 6 | (third & 0x3F);
}

// Such bytes as Core Foundation's strings give them: a pair as the character
// it encodes, a lone surrogate as U+FFFD.
std::string withSurrogatesResolved(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::u16string units;
    while (surrogateAt(text, at) >= 0) {
      units += static_cast<char16_t>(surrogateAt(text, at));
      at += 3;
    }
    if (!units.empty()) out += utf8FromUtf16(units);
    if (at < text.size()) out += text[at++];
  }
  return out;
}

PlistNode copy(plist_t node);

void copyDictionary(plist_t dict, PlistNode& out) {
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(dict, &iterator);
  if (iterator == nullptr) return;
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, iterator, &key, &value);
    if (value == nullptr) {
      std::free(key);
      break;
    }
    out.keys.push_back(withSurrogatesResolved(key ? key : ""));
    std::free(key);
    out.elements.push_back(copy(value));
  }
  std::free(iterator);
}

// Recursion is bounded by the shape check the caller made.
PlistNode copy(plist_t node) {
  PlistNode out;
  switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
      out.type = PlistNode::Type::String;
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (text != nullptr)
        out.text = withSurrogatesResolved(std::string_view(text, static_cast<std::size_t>(length)));
      break;
    }
    case PLIST_BOOLEAN: {
      out.type = PlistNode::Type::Boolean;
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      out.flag = value != 0;
      break;
    }
    case PLIST_UINT:
      out.type = PlistNode::Type::Integer;
      plist_get_uint_val(node, &out.integer);
      break;
    case PLIST_REAL:
      out.type = PlistNode::Type::Real;
      plist_get_real_val(node, &out.real);
      break;
    case PLIST_ARRAY: {
      out.type = PlistNode::Type::Array;
      const uint32_t size = plist_array_get_size(node);
      out.elements.reserve(size);
      for (uint32_t i = 0; i < size; ++i) out.elements.push_back(copy(plist_array_get_item(node, i)));
      break;
    }
    case PLIST_DICT:
      out.type = PlistNode::Type::Dictionary;
      copyDictionary(node, out);
      break;
    default:
      break;
  }
  return out;
}

}  // namespace

std::optional<PlistNode> parsePropertyList(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  const auto length = static_cast<uint32_t>(bytes.size());
  plist_t tree = nullptr;
  if (bytes.substr(0, 8) == "bplist00")
    plist_from_bin(bytes.data(), length, &tree);
  else
    plist_from_xml(bytes.data(), length, &tree);
  if (tree == nullptr) return std::nullopt;
  const std::unique_ptr<void, TreeFree> owner(tree);
  return copy(tree);
}

}  // namespace Platform
