#include <gtest/gtest.h>

#include "support/unicode_text.h"

namespace {
const std::string kFffd = "\xEF\xBF\xBD";
}

TEST(UnicodeText, ReplacesEachIllFormedSubpartOnce) {
  EXPECT_EQ(toValidUtf8("plain"), "plain");
  EXPECT_EQ(toValidUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(toValidUtf8("ab\xE2\x82"), "ab" + kFffd);            // euro sign cut short
  EXPECT_EQ(toValidUtf8("\xE2\x82z"), kFffd + "z");              // cut in the middle
  EXPECT_EQ(toValidUtf8("\xFF\xFE"), kFffd + kFffd);             // never valid bytes
  EXPECT_EQ(toValidUtf8("\xED\xA0\x80"), kFffd + kFffd + kFffd);  // surrogate
  EXPECT_EQ(toValidUtf8("\xC0\xAF"), kFffd + kFffd);             // overlong
  EXPECT_EQ(toValidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(UnicodeText, CutsAtUserPerceivedCharacters) {
  const std::string accented = "e\xCC\x81";  // e + combining acute: one character
  EXPECT_EQ(prefixGraphemes(accented + accented + "x", 2), accented + accented);
  EXPECT_EQ(prefixGraphemes("abc", 3), "abc");
  EXPECT_EQ(prefixGraphemes("abc", 5), "abc");
  EXPECT_EQ(prefixGraphemes("abc", 0), "");
  const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";  // regional indicators D E
  EXPECT_EQ(prefixGraphemes(flag + flag, 1), flag);
  EXPECT_EQ(prefixGraphemes("\r\nx", 1), "\r\n");
}
