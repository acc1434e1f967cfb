#include "platform/linux/sysfs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>

namespace Sysfs {

namespace {

std::optional<uint64_t> parseNumber(std::string_view text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::optional<std::string> attribute(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  std::string value = text.str();
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

std::optional<uint64_t> sequenceOfName(std::string_view name) {
  if (name.size() < 5) return std::nullopt;
  for (std::size_t i = 0; i < 4; ++i)
    if ((name[i] | 0x20) != "disk"[i]) return std::nullopt;
  const auto number = parseNumber(name.substr(4));
  if (!number || *number == 0) return std::nullopt;
  return number;
}

std::optional<dev_t> parseDevice(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto major = parseNumber(text.substr(0, colon));
  const auto minor = parseNumber(text.substr(colon + 1));
  if (!major || !minor || *major > 0xfffff || *minor > 0xfffff) return std::nullopt;
  return makedev(static_cast<unsigned>(*major), static_cast<unsigned>(*minor));
}

std::optional<WholeDisk> wholeDiskBySequence(const std::string& root, uint64_t sequence) {
  const std::string classDir = root + "/class/block";
  std::unique_ptr<DIR, DirCloser> dir(opendir(classDir.c_str()));
  if (!dir) return std::nullopt;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.front() == '.') continue;
    const std::string base = classDir + "/" + name;
    struct stat partition{};
    if (stat((base + "/partition").c_str(), &partition) == 0) continue;
    const auto text = attribute(base + "/diskseq");
    if (!text || parseNumber(*text) != sequence) continue;
    const auto dev = attribute(base + "/dev");
    const auto device = dev ? parseDevice(*dev) : std::nullopt;
    if (!device) return std::nullopt;
    return WholeDisk{name, sequence, *device};
  }
  return std::nullopt;
}

std::string nodeOf(const std::string& kernelName) {
  std::string node = "/dev/" + kernelName;
  for (char& c : node)
    if (c == '!') c = '/';
  return node;
}

}  // namespace Sysfs
