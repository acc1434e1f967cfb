#include "disks/disk_info.h"

#include <gtest/gtest.h>

#include <limits>

#include "disks/property_list.h"
#include "helpers/plist_text.h"
#include "records/imager_error.h"

namespace {

using nlohmann::json;

std::string parseOutcome(const std::string& bytes) {
  try {
    DiskInfo::parse(bytes);
    return "dictionary";
  } catch (const PropertyListError& error) {
    return std::string("parser: ") + error.what();
  } catch (const ImagerError& error) {
    return error.what();
  }
}

}  // namespace

TEST(DiskInfo, ReadsKeysByType) {
  const DiskInfo info = diskInfo(json{{"Name", "Stick & <Co>"},
                                      {"Flag", true},
                                      {"Off", false},
                                      {"Size", 16008609792},
                                      {"Real", 1.5e9},
                                      {"Negative", -1},
                                      {"NegativeReal", -2.5},
                                      {"List", json::array({json{{"K", "v"}}, "s"})}});
  EXPECT_EQ(info.string("Name"), "Stick & <Co>");
  EXPECT_EQ(info.boolean("Flag"), true);
  EXPECT_EQ(info.boolean("Off"), false);
  EXPECT_EQ(info.number("Size"), 16008609792u);
  EXPECT_EQ(info.number("Real"), 1500000000u);
  EXPECT_EQ(info.number("Negative"), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(info.number("NegativeReal"), 0u);
  const PlistValue list = info["List"];
  ASSERT_TRUE(list.isArray());
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.at(0)["K"].string(), "v");
  EXPECT_EQ(list.at(1).string(), "s");
  EXPECT_FALSE(list.at(2).present());
}

TEST(DiskInfo, MissingKeysAndOtherTypesAreAbsent) {
  const DiskInfo info = diskInfo(json{{"Text", "true"}, {"Flag", true}, {"Count", 1}});
  EXPECT_EQ(info.string("Missing"), std::nullopt);
  EXPECT_EQ(info.boolean("Text"), std::nullopt);
  EXPECT_EQ(info.boolean("Count"), std::nullopt);
  EXPECT_EQ(info.number("Flag"), std::nullopt);
  EXPECT_EQ(info.number("Text"), std::nullopt);
  EXPECT_EQ(info.string("Count"), std::nullopt);
  EXPECT_EQ(info.string(std::string("Text\0x", 6)), std::nullopt);
  EXPECT_FALSE(info["Text"]["inner"].present());
  EXPECT_FALSE(info["Text"].at(0).present());
  EXPECT_EQ(info["Count"].size(), 0u);
}

TEST(DiskInfo, RefusesWhatIsNotAStringKeyedDictionary) {
  const std::string parser = "parser: The data is not in the property list format.";
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"dictionary", plistXml(json{{"WholeDisk", true}}), "dictionary"},
      {"empty dictionary", plistXml(json::object()), "dictionary"},
      {"array", plistXml(json::array({"disk4"})), "Invalid system information."},
      {"string", plistXml("disk4"), "Invalid system information."},
      {"no output", "", parser},
      {"plain text", "this is not a property list\n", parser},
      {"cut short", plistXml(json{{"WholeDisk", true}}).substr(0, 60), parser},
      {"binary header only", "bplist00", parser},
  };
  for (const Case& c : cases) EXPECT_EQ(parseOutcome(c.bytes), c.expected) << c.name;
}
