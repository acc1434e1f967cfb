#include "helpers/image_files.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "helpers/temp_dir.h"
#include "imageio/sha256.h"

namespace {

// `name` as found on the test's own PATH, quoted for the shell. shell() runs
// with the writer's fixed PATH, which misses where Homebrew keeps xz.
std::string tool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return "'" + candidate + "'";
  }
  throw std::runtime_error(name + " is not on PATH");
}

}  // namespace

std::string pack(const std::string& raw, const std::string& suffix) {
  const std::string from = "'" + raw + "'", to = "'" + raw + suffix + "'";
  if (suffix == ".gz") shell(tool("gzip") + " -c -n -6 " + from + " > " + to);
  if (suffix == ".xz") shell(tool("xz") + " -c -1 " + from + " > " + to);
  if (suffix == ".zip") shell(tool("zip") + " -q -j -X " + to + " " + from);
  return raw + suffix;
}

std::string sha256Of(const std::string& bytes) {
  Sha256 hash;
  hash.update(bytes.data(), bytes.size());
  return hex(hash.finish());
}
