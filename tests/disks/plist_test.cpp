// Property lists: the values read alike from either system's parser, and the
// shapes refused before a parser sees them.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disks/plist_shape.h"
#include "disks/property_list.h"

using PlistShape::kMaximumDepth;
using PlistShape::withinBounds;

namespace {

std::string bigEndian(uint64_t value, int width) {
  std::string out;
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xFF);
  return out;
}

// An array of fewer than 15 elements referring to objects by number.
std::string array(const std::vector<uint32_t>& references) {
  std::string object(1, static_cast<char>(0xA0 | references.size()));
  for (uint32_t reference : references) object += bigEndian(reference, 4);
  return object;
}

// A binary property list of `objects`, object 0 the root, with 4-byte
// offsets and references.
std::string binary(const std::vector<std::string>& objects) {
  std::string out = "bplist00", table;
  for (const std::string& object : objects) {
    table += bigEndian(out.size(), 4);
    out += object;
  }
  return out + table + std::string(6, '\0') + "\x04\x04" + bigEndian(objects.size(), 8) +
         bigEndian(0, 8) + bigEndian(out.size(), 8);
}

// `levels` arrays, each holding `fan` references to the next.
std::string binaryChain(std::size_t levels, std::size_t fan = 1) {
  std::vector<std::string> objects;
  for (uint32_t i = 0; i + 1 < levels; ++i) objects.push_back(array(std::vector(fan, i + 1)));
  objects.push_back(array({}));
  return binary(objects);
}

std::string xml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
         "</plist>\n";
}

std::string xmlChain(std::size_t levels, const std::string& innermost = "") {
  std::string arrays;
  for (std::size_t i = 0; i < levels; ++i) arrays += "<array>";
  arrays += innermost;
  for (std::size_t i = 0; i < levels; ++i) arrays += "</array>";
  return xml(arrays);
}

bool parses(const std::string& bytes) {
  try {
    PropertyList::parse(bytes);
    return true;
  } catch (const PropertyListError&) {
    return false;
  }
}

}  // namespace

// Nesting past the limit is refused before the parser sees it. Far past the
// limit is deep enough to overflow the parser's stack, yet within what one
// run of the disk utility may print (2 MiB).
TEST(PlistShape, BoundsTheNestingOfBothFormats) {
  struct Case {
    const char* name;
    std::string bytes;
    bool within;
  } cases[] = {
      {"binary at the limit", binaryChain(kMaximumDepth), true},
      {"binary past the limit", binaryChain(kMaximumDepth + 1), false},
      {"binary far past the limit", binaryChain(200000), false},
      {"XML at the limit", xmlChain(kMaximumDepth), true},
      {"XML past the limit", xmlChain(kMaximumDepth + 1), false},
      {"XML far past the limit", xmlChain(130000), false},
      {"XML empty elements do not nest", xmlChain(kMaximumDepth - 1, "<array/><dict />"), true},
  };
  for (const Case& c : cases) EXPECT_EQ(parses(c.bytes), c.within) << c.name;
}

// The parser copies a shared object once per reference: 40 levels of two
// references each would be 2^40 values from a few hundred bytes.
TEST(PlistShape, CountsSharedObjectsOncePerReference) {
  EXPECT_TRUE(parses(binaryChain(15, 2)));         // 32767 values
  EXPECT_FALSE(withinBounds(binaryChain(17, 2)));  // 131071 values
  EXPECT_FALSE(parses(binaryChain(40, 2)));
}

// From the first array or dictionary on, every tag must be plain, so that
// nothing can hide nesting from the count; the header is free.
TEST(PlistShape, AcceptsOnlyPlainTagsInsideXml) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<!-- written by hand -->\n<plist version=\"1.0\">";
  struct Case {
    const char* name;
    std::string body;
    bool within;
  } cases[] = {
      {"values", "<dict><key>A &amp; B</key><string>\"quoted\" > 1</string></dict>", true},
      {"comment inside", "<dict><!-- </dict></dict> --></dict>", false},
      {"character data inside", "<array><string><![CDATA[x]]></string></array>", false},
      {"processing instruction inside", "<array><?x?></array>", false},
      {"quote in a tag", "<array><string a=\"</array>\">x</string></array>", false},
      {"stray <", "<array><string>a<b</string></array>", false},
      {"unterminated tag", "<array></array", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parses(head + c.body + "</plist>\n"), c.within) << c.name;
}

// Each system parses with its own library; callers must read the same values
// from either.
TEST(PropertyList, ReadsEachValueTypeAlike) {
  const PropertyList list = PropertyList::parse(xml(
      "<dict>"
      "<key>Name</key><string>caf\xC3\xA9 &amp; co</string>"
      "<key>Internal</key><false/>"
      "<key>Size</key><integer>16008609792</integer>"
      "<key>Real</key><real>3.9</real>"
      "<key>Huge</key><real>1e30</real>"
      "<key>Below</key><real>-2.5</real>"
      "<key>Parts</key><array><dict><key>DeviceIdentifier</key><string>disk4s1</string></dict>"
      "<string>x</string></array>"
      "<key>When</key><date>2024-01-01T00:00:00Z</date></dict>"));
  const PlistValue root = list.root();
  ASSERT_TRUE(root.isDictionary());
  EXPECT_EQ(root.size(), 8u);
  EXPECT_EQ(root["Name"].string(), "caf\xC3\xA9 & co");
  EXPECT_EQ(root["Internal"].boolean(), false);
  EXPECT_EQ(root["Size"].number(), 16008609792u);
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

// A lone UTF-16 surrogate reads as U+FFFD from either parser, in either
// format: one parser would drop it and the other cut the string short there.
TEST(PropertyList, ReadsALoneSurrogateAsAReplacement) {
  const std::string fffd = "\xEF\xBF\xBD", grin = "\xF0\x9F\x98\x80";
  const auto utf16 = [](const std::vector<uint16_t>& units) {
    std::string object(1, static_cast<char>(0x60 | units.size()));
    for (uint16_t unit : units) object += bigEndian(unit, 2);
    return binary({object});
  };
  struct Case {
    std::string bytes;
    std::string text;
  } cases[] = {
      {utf16({'a', 0xD800, 'b'}), "a" + fffd + "b"},
      {utf16({'a', 0xDC00}), "a" + fffd},
      {utf16({0xD800, 0xD800, 'b'}), fffd + fffd + "b"},
      {utf16({0xD83D, 0xDE00, 0xDE00}), grin + fffd},
      {xml("<string>a&#xD800;b</string>"), "a" + fffd + "b"},
      {xml("<string>&#xD83D;&#xDE00;&#55357;</string>"), grin + fffd},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PropertyList::parse(c.bytes).root().string(), c.text) << c.text;
}

// Only XML and binary lists are property lists here, whatever else a
// system's parser would take.
TEST(PropertyList, RefusesOtherFormats) {
  for (const std::string bytes : {"(a, b)", "{ a = b; }", "{\"a\": 1}", "not a list",
                                  "bplist00 cut short", "<plist version=\"1.0\"><dict>"}) {
    EXPECT_THROW(PropertyList::parse(bytes), PropertyListError) << bytes;
  }
}
