#include "image_digest.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "plain_text.h"
#include "refusal.h"

namespace {

std::optional<std::string> hexDigest(std::string text) {
  if (text.size() != 64 || !std::all_of(text.begin(), text.end(), ::isxdigit)) return std::nullopt;
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

}  // namespace

std::optional<std::string> expectedDigest(const std::optional<std::string>& given,
                                          const std::string& typed) {
  if (given) {
    if (auto digest = hexDigest(*given)) return digest;
    throw Refusal(ExitCode::usage,
                  "--sha256 takes the image's SHA-256 digest: 64 hexadecimal digits.");
  }
  std::ifstream file(typed + ".sha256");
  if (!file) return std::nullopt;
  std::string word;
  file >> word;
  if (auto digest = hexDigest(word)) return digest;
  throw Refusal(ExitCode::badImage,
                plainText(typed) + ".sha256 holds no SHA-256 digest: " +
                    "download it again, or remove it to write without a check.");
}

void checkDigest(const std::optional<std::string>& expected, const Inspection& inspection,
                 const std::string& typed) {
  if (!expected || *expected == inspection.sha256 || *expected == inspection.expandedSHA256) return;
  throw Refusal(ExitCode::badImage,
                plainText(typed) +
                    " does not match its SHA-256 checksum: it is damaged or not the "
                    "image meant. Download it again; nothing was written.",
                "expected " + *expected + ", the image has " + inspection.sha256);
}
