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

// Each row cuts right after its first character, which is several code
// points long, and asks for one character more than the text has.
TEST(UnicodeText, CutsAtUserPerceivedCharacters) {
  struct Case {
    const char* name;
    std::string first;
  };
  const Case cases[] = {
      {"byte order mark", "\xEF\xBB\xBF"},
      {"CR LF", "\r\n"},
      {"ZWJ emoji: family",
       "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"},
      {"Hangul LVT jamo", "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8"},
      {"flag: regional indicators D E", "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"},
      {"e with two combining marks", "e\xCC\x81\xCC\xA3"},
  };
  for (const Case& c : cases) {
    const std::string text = c.first + c.first + "x";
    EXPECT_EQ(prefixGraphemes(text, 0), "") << c.name;
    EXPECT_EQ(prefixGraphemes(text, 1), c.first) << c.name;
    EXPECT_EQ(prefixGraphemes(text, 2), c.first + c.first) << c.name;
    EXPECT_EQ(prefixGraphemes(text, 4), text) << c.name;
  }
}
