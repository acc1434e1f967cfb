#include "session/final_report.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "records/imager_error.h"

// The stage, error or cancelled: the e2e cases.

// Cut by user-perceived characters (how they split: the text tests).
TEST(FinalReport, MessageKeepsItsFirstThousandCharacters) {
  std::string accents;
  for (int i = 0; i < 1000; ++i) accents += "e\xCC\x81";
  struct Case {
    const char* name;
    std::string description;
    std::string message;
  } cases[] = {
      {"exactly 1000", std::string(1000, 'a'), std::string(1000, 'a')},
      {"1001 letters", std::string(1001, 'a'), std::string(1000, 'a')},
      {"combining marks", accents + "e\xCC\x81", accents},
      {"invalid UTF-8", "bad \xff byte", "bad \xEF\xBF\xBD byte"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FinalReport::closingEvent(false, c.description).message, c.message) << c.name;
}

TEST(FinalReport, DescribesErrorsByTheirOwnText) {
  auto describe = [](auto error) { return FinalReport::describe(std::make_exception_ptr(error)); };
  EXPECT_EQ(describe(ImagerError::cancelled()), "Operation cancelled.");
  EXPECT_EQ(describe(ImagerError::message("Invalid target.")), "Invalid target.");
  const std::system_error missing(ENOENT, std::generic_category());
  EXPECT_EQ(describe(missing), missing.what());
  EXPECT_EQ(describe(42), "Unknown error.");
}
