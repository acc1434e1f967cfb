#include "disks/plist_shape.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

// An array (a dictionary: keys then values) referring to objects by number.
std::string container(const std::vector<uint32_t>& references, bool dictionary = false) {
  const std::size_t count = dictionary ? references.size() / 2 : references.size();
  const char type = dictionary ? '\xD0' : '\xA0';
  std::string object = count < 15 ? std::string(1, static_cast<char>(type | count))
                                  : std::string{static_cast<char>(type | 0x0F), '\x12'} +
                                        bigEndian(count, 4);  // a 4-byte count follows
  for (uint32_t reference : references) object += bigEndian(reference, 4);
  return object;
}

std::string ascii(const std::string& text) { return static_cast<char>(0x50 | text.size()) + text; }

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
  for (uint32_t i = 0; i + 1 < levels; ++i) objects.push_back(container(std::vector(fan, i + 1)));
  objects.push_back(container({}));
  return binary(objects);
}

std::string xmlChain(std::size_t levels, const std::string& innermost = "") {
  std::string arrays;
  for (std::size_t i = 0; i < levels; ++i) arrays += "<array>";
  arrays += innermost;
  for (std::size_t i = 0; i < levels; ++i) arrays += "</array>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + arrays +
         "</plist>\n";
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

// Far past the limit is deep enough to overflow the parser's stack, yet
// within what one run of the disk utility may print (2 MiB).
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

TEST(PlistShape, RefusesBinaryStructureThatCannotBeFollowed) {
  const std::string valid = binary({container({1, 2}, true), ascii("Key"), ascii("v")});
  std::string badTable = valid, badReferenceSize = valid;
  badTable.back() = '\x7F';  // offset table past the objects
  badReferenceSize[badReferenceSize.size() - 25] = '\0';
  struct Case {
    const char* name;
    std::string bytes;
    bool within;
  } cases[] = {
      {"dictionary", valid, true},
      {"cycle", binary({container({1}), container({0})}), false},
      {"reference to itself", binary({container({0})}), false},
      {"reference past the objects", binary({container({5})}), false},
      {"references past the table", binary({"\xA3"}), false},
      {"long count", binary({container(std::vector<uint32_t>(20, 1)), ascii("x")}), true},
      {"long count of 2^15 bytes", binary({"\xAF\x1F"}), false},
      {"offset table past the objects", badTable, false},
      {"reference size 0", badReferenceSize, false},
      {"trailer only", std::string("bplist00") + std::string(32, '\0'), false},
  };
  for (const Case& c : cases) EXPECT_EQ(withinBounds(c.bytes), c.within) << c.name;
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
