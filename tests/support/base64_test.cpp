#include <gtest/gtest.h>

#include "support/base64.h"

TEST(Base64, RoundTripsEveryTailLength) {
  for (std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar", "\xff\x00\xfe"}) {
    const std::string encoded = encodeBase64(text);
    EXPECT_EQ(encoded.size() % 4, 0u);
    EXPECT_EQ(decodeBase64(encoded), text) << encoded;
  }
  EXPECT_EQ(encodeBase64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(encodeBase64("fo"), "Zm8=");
}

TEST(Base64, RefusesAnythingButStrictStandardBase64) {
  for (const char* text : {
           "Zm8",        // padding missing
           "Zm9v\n",     // line feed
           " Zm9v",      // leading blank
           "Zm9v====",   // padding alone
           "Zm=8",       // padding inside
           "Z===",       // too much padding
           "Zm-_",       // URL-safe alphabet
           "Zm9=",       // non-zero unused bits
           "Zh==",       // non-zero unused bits
       })
    EXPECT_EQ(decodeBase64(text), std::nullopt) << text;
}
