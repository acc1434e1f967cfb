#include "helpers/image_files.h"

#include "helpers/temp_dir.h"
#include "imageio/sha256.h"

std::string pack(const std::string& raw, const std::string& suffix) {
  const std::string from = "'" + raw + "'", to = "'" + raw + suffix + "'";
  if (suffix == ".gz") shell("gzip -c -n -6 " + from + " > " + to);
  if (suffix == ".xz") shell("xz -c -1 " + from + " > " + to);
  if (suffix == ".zip") shell("zip -q -j -X " + to + " " + from);
  return raw + suffix;
}

std::string sha256Of(const std::string& bytes) {
  Sha256 hash;
  hash.update(bytes.data(), bytes.size());
  return hex(hash.finish());
}
