#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The few property-list values the utility prints, written as XML.
struct PlistOut;
using PlistDict = std::vector<std::pair<std::string, PlistOut>>;
using PlistArray = std::vector<PlistOut>;
struct PlistOut {
  std::variant<std::string, bool, uint64_t, PlistArray, PlistDict> value;
};

// The whole document, XML header included. Text that is not printable ASCII
// is written as "?": every value comes from the kernel's own ASCII attributes.
std::string xmlPropertyList(const PlistOut& root);
