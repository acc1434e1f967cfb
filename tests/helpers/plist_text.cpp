#include "helpers/plist_text.h"

namespace {

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
  return out;
}

std::string xml(const nlohmann::json& value) {
  std::string out;
  if (value.is_object()) {
    for (const auto& [key, member] : value.items())
      out += "<key>" + escaped(key) + "</key>" + xml(member);
    return "<dict>" + out + "</dict>";
  }
  if (value.is_array()) {
    for (const auto& element : value) out += xml(element);
    return "<array>" + out + "</array>";
  }
  if (value.is_string()) return "<string>" + escaped(value.get<std::string>()) + "</string>";
  if (value.is_boolean()) return value.get<bool>() ? "<true/>" : "<false/>";
  if (value.is_number_integer()) return "<integer>" + value.dump() + "</integer>";
  return "<real>" + value.dump() + "</real>";
}

}  // namespace

DiskInfo diskInfo(const nlohmann::json& value) {
  return DiskInfo::parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" +
                         xml(value) + "</plist>\n");
}
