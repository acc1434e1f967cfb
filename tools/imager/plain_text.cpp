#include "plain_text.h"

std::string plainText(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // C1 controls arrive in UTF-8 as 0xC2 0x80 to 0xC2 0x9F.
    const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c1) ++i;
    plain += byte < 0x20 || byte == 0x7F || c1 ? ' ' : text[i];
  }
  return plain;
}
