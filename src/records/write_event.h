#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// One progress or result report sent to the Imager.
struct WriteEvent {
  std::string stage;
  int64_t completed = 0;
  int64_t total = 0;
  std::optional<std::string> message;

  // Compact JSON on one line, without a "message" key when there is none.
  // Throws the encoder's error for text that is not valid UTF-8.
  std::string encode() const;

  bool operator==(const WriteEvent&) const = default;
};

void to_json(nlohmann::json& json, const WriteEvent& event);
void from_json(const nlohmann::json& json, WriteEvent& event);  // throws DecodingError

// Delivers one event to the Imager; throws when it cannot.
using Progress = std::function<void(const WriteEvent&)>;
