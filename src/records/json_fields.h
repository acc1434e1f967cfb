#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

// A record that does not have the fixed JSON form.
class DecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Strict readers of one member of a JSON object: the member must be present,
// not null, and of the right kind; integers must be exact integers within the
// range of the field's type. Each throws DecodingError otherwise.
namespace JsonFields {

const nlohmann::json& member(const nlohmann::json& object, const char* key);
void requireObject(const nlohmann::json& value);
std::string string(const nlohmann::json& object, const char* key);

template <typename T>
T integer(const nlohmann::json& object, const char* key) {
  static_assert(std::numeric_limits<T>::is_integer && sizeof(T) <= 8);
  const nlohmann::json& value = member(object, key);
  using Limits = std::numeric_limits<T>;
  if (value.is_number_unsigned()) {
    const auto number = value.get<uint64_t>();
    if (number <= static_cast<uint64_t>(Limits::max())) return static_cast<T>(number);
  } else if (value.is_number_integer()) {
    const auto number = value.get<int64_t>();
    if (number >= static_cast<int64_t>(Limits::min()) &&
        (number < 0 || static_cast<uint64_t>(number) <= static_cast<uint64_t>(Limits::max())))
      return static_cast<T>(number);
  }
  throw DecodingError(std::string("Member \"") + key + "\" is not an integer in range.");
}

}  // namespace JsonFields
