#include "helpers/plist_text.h"

#include <sstream>

namespace {

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

void write(std::ostringstream& out, const nlohmann::json& value) {
  if (value.is_object()) {
    out << "<dict>";
    for (const auto& [key, member] : value.items()) {
      out << "<key>" << escaped(key) << "</key>";
      write(out, member);
    }
    out << "</dict>";
  } else if (value.is_array()) {
    out << "<array>";
    for (const auto& element : value) write(out, element);
    out << "</array>";
  } else if (value.is_string()) {
    out << "<string>" << escaped(value.get<std::string>()) << "</string>";
  } else if (value.is_boolean()) {
    out << (value.get<bool>() ? "<true/>" : "<false/>");
  } else if (value.is_number_integer()) {
    out << "<integer>" << value.dump() << "</integer>";
  } else {
    out << "<real>" << value.dump() << "</real>";
  }
}

}  // namespace

std::string plistXml(const nlohmann::json& value) {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
  write(out, value);
  out << "</plist>\n";
  return out.str();
}

DiskInfo diskInfo(const nlohmann::json& value) { return DiskInfo::parse(plistXml(value)); }
