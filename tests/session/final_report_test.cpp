#include "session/final_report.h"

#include <gtest/gtest.h>

#include <string>

// Cut by user-perceived characters (how they split: the text tests); the
// stage says whether the stop flag was what ended the job.
TEST(FinalReport, ClosingEventKeepsItsFirstThousandCharacters) {
  std::string accents;
  for (int i = 0; i < 1000; ++i) accents += "e\xCC\x81";
  struct Case {
    const char* name;
    bool stopped;
    std::string description;
    const char* stage;
    std::string message;
  } cases[] = {
      {"stopped", true, "Operation cancelled.", "cancelled", "Operation cancelled."},
      {"exactly 1000", false, std::string(1000, 'a'), "error", std::string(1000, 'a')},
      {"1001 letters", false, std::string(1001, 'a'), "error", std::string(1000, 'a')},
      {"combining marks", true, accents + "e\xCC\x81", "cancelled", accents},
      {"invalid UTF-8", false, "bad \xff byte", "error", "bad \xEF\xBF\xBD byte"},
  };
  for (const Case& c : cases) {
    const WriteEvent event = FinalReport::closingEvent(c.stopped, c.description);
    EXPECT_EQ(event, (WriteEvent{c.stage, 0, 0, c.message})) << c.name;
  }
}
