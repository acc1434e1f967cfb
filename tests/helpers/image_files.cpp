#include "helpers/image_files.h"

#include "helpers/temp_dir.h"
#include "imageio/sha256.h"

const char* packingName(Packing packing) {
  switch (packing) {
    case Packing::Raw:
      return "raw";
    case Packing::Gzip:
      return "gzip";
    case Packing::Xz:
      return "xz";
    case Packing::Zip:
      return "zip";
  }
  return "?";
}

std::string pack(const std::string& raw, Packing packing) {
  switch (packing) {
    case Packing::Raw:
      return raw;
    case Packing::Gzip:
      shell("gzip -c -n -6 '" + raw + "' > '" + raw + ".gz'");
      return raw + ".gz";
    case Packing::Xz:
      shell("xz -c -1 '" + raw + "' > '" + raw + ".xz'");
      return raw + ".xz";
    case Packing::Zip:
      shell("zip -q -j -X '" + raw + ".zip' '" + raw + "'");
      return raw + ".zip";
  }
  return raw;
}

std::string sha256Of(const std::string& bytes) {
  Sha256 hash;
  hash.update(bytes.data(), bytes.size());
  return hex(hash.finish());
}
