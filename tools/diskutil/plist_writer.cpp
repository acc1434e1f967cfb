#include "plist_writer.h"

namespace {

void escaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c < 0x20 || c > 0x7e) out += '?';
    else out += c;
  }
}

void write(const PlistOut& node, std::string& out) {
  if (const auto* text = std::get_if<std::string>(&node.value)) {
    out += "<string>";
    escaped(*text, out);
    out += "</string>";
  } else if (const auto* flag = std::get_if<bool>(&node.value)) {
    out += *flag ? "<true/>" : "<false/>";
  } else if (const auto* number = std::get_if<uint64_t>(&node.value)) {
    out += "<integer>" + std::to_string(*number) + "</integer>";
  } else if (const auto* array = std::get_if<PlistArray>(&node.value)) {
    out += "<array>";
    for (const PlistOut& element : *array) write(element, out);
    out += "</array>";
  } else {
    out += "<dict>";
    for (const auto& [key, value] : std::get<PlistDict>(node.value)) {
      out += "<key>";
      escaped(key, out);
      out += "</key>";
      write(value, out);
    }
    out += "</dict>";
  }
  out += '\n';
}

}  // namespace

std::string xmlPropertyList(const PlistOut& root) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n";
  write(root, out);
  return out + "</plist>\n";
}
