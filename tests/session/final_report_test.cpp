#include "session/final_report.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <system_error>

#include "helpers/event_printer.h"
#include "records/imager_error.h"

namespace {

std::string repeated(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

}  // namespace

TEST(FinalReport, StageFollowsTheFlagWhateverTheError) {
  EXPECT_EQ(FinalReport::closingEvent(false, "Unknown user."),
            (WriteEvent{"error", 0, 0, "Unknown user."}));
  EXPECT_EQ(FinalReport::closingEvent(true, "Unknown user."),
            (WriteEvent{"cancelled", 0, 0, "Unknown user."}));
}

// The cut counts user-perceived characters: "e" with a combining acute
// accent is one, as is CR LF; other controls count one each.
TEST(FinalReport, MessageKeepsItsFirstThousandCharacters) {
  const std::string accented = "e\xCC\x81";
  const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
  struct Case {
    const char* name;
    std::string description;
    std::string message;
  } cases[] = {
      {"short", "Drive gone.", "Drive gone."},
      {"exactly 1000", std::string(1000, 'a'), std::string(1000, 'a')},
      {"1001 letters", std::string(1001, 'a'), std::string(1000, 'a')},
      {"combining marks", repeated(accented, 1200), repeated(accented, 1000)},
      {"flags", repeated(flag, 1001), repeated(flag, 1000)},
      {"controls", "a\r\nb\n\x01" + std::string(1000, 'z'), "a\r\nb\n\x01" + std::string(995, 'z')},
      {"invalid UTF-8", "bad \xff\xfe byte", "bad \xEF\xBF\xBD\xEF\xBF\xBD byte"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FinalReport::closingEvent(false, c.description).message, c.message) << c.name;
}

TEST(FinalReport, DescribesErrorsByTheirOwnText) {
  auto describe = [](auto error) {
    return FinalReport::describe(std::make_exception_ptr(error));
  };
  EXPECT_EQ(describe(ImagerError::cancelled()), "Operation cancelled.");
  EXPECT_EQ(describe(ImagerError::message("Invalid target.")), "Invalid target.");
  EXPECT_EQ(describe(std::system_error(ENOENT, std::generic_category())),
            std::system_error(ENOENT, std::generic_category()).what());
  EXPECT_EQ(describe(42), "Unknown error.");
}
