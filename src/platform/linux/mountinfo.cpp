#include "platform/linux/mountinfo.h"

#include <cstddef>

namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// The `index`th blank-separated field of `line` (0-based), or nothing.
std::optional<std::string_view> field(std::string_view line, int index) {
  for (int i = 0;; ++i) {
    const std::size_t end = line.find(' ');
    if (i == index) return line.substr(0, end);
    if (end == std::string_view::npos) return std::nullopt;
    line.remove_prefix(end + 1);
  }
}

bool contains(std::string_view mountPoint, std::string_view path) {
  if (mountPoint == "/") return !path.empty() && path.front() == '/';
  return path.substr(0, mountPoint.size()) == mountPoint &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

std::string unescapeMountField(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && isOctal(text[i + 1]) &&
        isOctal(text[i + 2]) && isOctal(text[i + 3])) {
      out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                      (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<std::string> mountPointHolding(std::string_view mountInfo, std::string_view path,
                                             std::optional<uint64_t> mountID,
                                             std::string_view device) {
  const std::string id = mountID ? std::to_string(*mountID) : "";
  std::optional<std::string> best;
  while (!mountInfo.empty()) {
    const std::size_t end = mountInfo.find('\n');
    const std::string_view line = mountInfo.substr(0, end);
    mountInfo.remove_prefix(end == std::string_view::npos ? mountInfo.size() : end + 1);
    const auto raw = field(line, 4);
    if (!raw) continue;
    std::string mountPoint = unescapeMountField(*raw);
    if (mountID ? field(line, 0) != id
                : field(line, 2) != device || !contains(mountPoint, path))
      continue;
    // Of mounts of one device the later listed was mounted later, over or
    // beside the others.
    best = std::move(mountPoint);
    if (mountID) break;
  }
  return best;
}
