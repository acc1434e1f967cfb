#include "disks/disk_info.h"

#include <gtest/gtest.h>

#include <limits>

#include "disks/property_list.h"
#include "helpers/plist_text.h"
#include "records/imager_error.h"

using nlohmann::json;

// Types other than the one asked for read as absent (the candidate tests
// show that per key); reals saturate to the unsigned range.
TEST(DiskInfo, ReadsNumbersAndNestedValues) {
  const DiskInfo info = diskInfo(json{{"Real", 1.5e9},
                                      {"NegativeReal", -2.5},
                                      {"HugeReal", 1e30},
                                      {"Text", "true"},
                                      {"List", json::array({json{{"K", "v"}}})}});
  EXPECT_EQ(info.number("Real"), 1500000000u);
  EXPECT_EQ(info.number("NegativeReal"), 0u);
  EXPECT_EQ(info.number("HugeReal"), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(info["List"].at(0)["K"].string(), "v");
  EXPECT_FALSE(info["List"].at(1).present());
  EXPECT_FALSE(info["Text"]["K"].present());
  EXPECT_EQ(info.string(std::string("Text\0x", 6)), std::nullopt);
}

TEST(DiskInfo, RefusesWhatIsNotADictionary) {
  const std::string parser = "The data is not in the property list format.";
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"empty dictionary", plistXml(json::object()), "dictionary"},
      {"array", plistXml(json::array({"disk4"})), "Invalid system information."},
      {"string", plistXml("disk4"), "Invalid system information."},
      {"no output", "", parser},
      {"plain text", "this is not a property list\n", parser},
      {"cut short", plistXml(json{{"WholeDisk", true}}).substr(0, 60), parser},
      {"binary header only", "bplist00", parser},
  };
  for (const Case& c : cases) {
    std::string outcome = "dictionary";
    try {
      DiskInfo::parse(c.bytes);
    } catch (const PropertyListError& error) {
      outcome = error.what();
    } catch (const ImagerError& error) {
      outcome = error.what();
    }
    EXPECT_EQ(outcome, c.expected) << c.name;
  }
}
