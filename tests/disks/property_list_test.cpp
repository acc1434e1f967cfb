#include "disks/property_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

// Each system parses with its own library; callers must read the same values
// from either.
TEST(PropertyList, ReadsEachValueTypeAlike) {
  const PropertyList list = PropertyList::parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>Name</key><string>caf\xC3\xA9 &amp; co</string>"
      "<key>Internal</key><false/>"
      "<key>Size</key><integer>16008609792</integer>"
      "<key>Negative</key><integer>-1</integer>"
      "<key>Real</key><real>3.9</real>"
      "<key>Huge</key><real>1e30</real>"
      "<key>Below</key><real>-2.5</real>"
      "<key>Parts</key><array><dict><key>DeviceIdentifier</key><string>disk4s1</string></dict>"
      "<string>x</string></array>"
      "<key>When</key><date>2024-01-01T00:00:00Z</date>"
      "</dict></plist>\n");
  const PlistValue root = list.root();
  ASSERT_TRUE(root.isDictionary());
  EXPECT_EQ(root.size(), 9u);
  EXPECT_EQ(root["Name"].string(), "caf\xC3\xA9 & co");
  EXPECT_EQ(root["Internal"].boolean(), false);
  EXPECT_EQ(root["Size"].number(), 16008609792u);
  EXPECT_EQ(root["Negative"].number(), UINT64_MAX);
  EXPECT_EQ(root["Real"].number(), 3u);
  EXPECT_EQ(root["Huge"].number(), UINT64_MAX);
  EXPECT_EQ(root["Below"].number(), 0u);
  EXPECT_EQ(root["Size"].string(), std::nullopt);
  EXPECT_TRUE(root["Parts"].isArray());
  EXPECT_EQ(root["Parts"].at(0)["DeviceIdentifier"].string(), "disk4s1");
  EXPECT_EQ(root["Parts"].at(1).string(), "x");
  EXPECT_FALSE(root["Parts"].at(2).present());
  EXPECT_TRUE(root["When"].present());
  EXPECT_EQ(root["When"].number(), std::nullopt);
  EXPECT_FALSE(root["Missing"].present());
}

// Only XML and binary lists are property lists here, whatever else a
// system's parser would take.
TEST(PropertyList, RefusesOtherFormats) {
  for (const std::string bytes : {"(a, b)", "{ a = b; }", "{\"a\": 1}", "not a list",
                                  "bplist00 cut short", "<plist version=\"1.0\"><dict>"}) {
    EXPECT_THROW(PropertyList::parse(bytes), PropertyListError) << bytes;
  }
}
