#include "helpers/image_files.h"

#include "helpers/temp_dir.h"
#include "imageio/sha256.h"

namespace {

struct Form {
  const char* name;
  const char* suffix;
  const char* command;  // with the raw file as $0 and the packed one as $1
};

const Form kForms[] = {{"raw", "", ""},
                       {"gzip", ".gz", "gzip -c -n -6 \"$0\" > \"$1\""},
                       {"xz", ".xz", "xz -c -1 \"$0\" > \"$1\""},
                       {"zip", ".zip", "zip -q -j -X \"$1\" \"$0\""}};

}  // namespace

const char* packingName(Packing packing) { return kForms[static_cast<int>(packing)].name; }

std::string pack(const std::string& raw, Packing packing) {
  const Form& form = kForms[static_cast<int>(packing)];
  if (packing == Packing::Raw) return raw;
  shell("sh -c '" + std::string(form.command) + "' '" + raw + "' '" + raw + form.suffix + "'");
  return raw + form.suffix;
}

std::string sha256Of(const std::string& bytes) {
  Sha256 hash;
  hash.update(bytes.data(), bytes.size());
  return hex(hash.finish());
}
