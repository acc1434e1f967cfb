#include <gtest/gtest.h>

#include <string>

#include "imageio/sha256.h"

namespace {
std::string digestOf(const std::string& text, std::size_t pieces = 1) {
  Sha256 hash;
  const std::size_t step = text.size() / pieces + 1;
  for (std::size_t at = 0; at < text.size(); at += step)
    hash.update(text.data() + at, std::min(step, text.size() - at));
  return hex(hash.finish());
}
}  // namespace

// FIPS 180-4 example vectors, fed whole and in pieces.
TEST(Sha256, KnownVectorsThroughHex) {
  EXPECT_EQ(digestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(digestOf(twoBlocks, 5),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digestOf(std::string(1000000, 'a'), 7),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
