#include "records/json_fields.h"

namespace JsonFields {

const nlohmann::json& member(const nlohmann::json& object, const char* key) {
  requireObject(object);
  const auto found = object.find(key);
  if (found == object.end() || found->is_null())
    throw DecodingError(std::string("Member \"") + key + "\" is missing.");
  return *found;
}

void requireObject(const nlohmann::json& value) {
  if (!value.is_object()) throw DecodingError("Expected a JSON object.");
}

std::string string(const nlohmann::json& object, const char* key) {
  const nlohmann::json& value = member(object, key);
  if (!value.is_string())
    throw DecodingError(std::string("Member \"") + key + "\" is not a string.");
  return value.get<std::string>();
}

}  // namespace JsonFields
