#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>

// A whole disk as the user confirmed it, or as the inventory sees it now.
struct TargetDisk {
  std::string bsd;  // whole-disk BSD name, e.g. "disk4"
  std::string name;
  uint64_t capacity = 0;
  uint64_t registryID = 0;
  std::string bus;

  // "bsd-registryID-capacity", numbers in plain decimal.
  std::string id() const;
};

// All five fields equal; strings by canonical equivalence, so a name in
// composed and in decomposed form is the same name.
bool operator==(const TargetDisk& a, const TargetDisk& b);

void to_json(nlohmann::json& json, const TargetDisk& disk);
void from_json(const nlohmann::json& json, TargetDisk& disk);  // throws DecodingError
