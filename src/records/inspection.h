#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>

// What the Imager measured about the source image before the user confirmed.
struct Inspection {
  int64_t bytes = 0;           // stored size of the source file
  int64_t expanded = 0;        // size of the image once unpacked
  std::string sha256;          // digest of the stored file
  std::string expandedSHA256;  // digest of the expanded image
};

// All four fields equal; strings by canonical equivalence.
bool operator==(const Inspection& a, const Inspection& b);

void to_json(nlohmann::json& json, const Inspection& inspection);
void from_json(const nlohmann::json& json, Inspection& inspection);  // throws DecodingError
