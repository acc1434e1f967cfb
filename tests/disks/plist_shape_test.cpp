#include "disks/plist_shape.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "disks/property_list.h"

using PlistShape::kMaximumDepth;
using PlistShape::withinBounds;

namespace {

// A binary property list written object by object: 4-byte references and
// offsets, object 0 the root.
class BinaryPlist {
 public:
  // An array (or, with `dictionary`, a dictionary of `references.size() / 2`
  // keys then values) referring to the given objects.
  BinaryPlist& container(std::vector<uint32_t> references, bool dictionary = false) {
    std::string object;
    const std::size_t count = dictionary ? references.size() / 2 : references.size();
    const char type = dictionary ? '\xD0' : '\xA0';
    if (count < 15) {
      object += static_cast<char>(type | static_cast<char>(count));
    } else {
      object += static_cast<char>(type | 0x0F);
      object += '\x12';  // a 4-byte integer count follows
      appendBigEndian(object, count, 4);
    }
    for (uint32_t reference : references) appendBigEndian(object, reference, 4);
    objects_.push_back(object);
    return *this;
  }
  BinaryPlist& string(const std::string& text) {
    objects_.push_back(std::string(1, static_cast<char>(0x50 | text.size())) + text);
    return *this;
  }
  BinaryPlist& raw(const std::string& object) {
    objects_.push_back(object);
    return *this;
  }

  std::string bytes() const {
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (const std::string& object : objects_) {
      offsets.push_back(out.size());
      out += object;
    }
    const uint64_t table = out.size();
    for (uint64_t offset : offsets) appendBigEndian(out, offset, 4);
    out += std::string(6, '\0');
    out += '\x04';
    out += '\x04';
    appendBigEndian(out, objects_.size(), 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, table, 8);
    return out;
  }

 private:
  static void appendBigEndian(std::string& out, uint64_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
      out += static_cast<char>((value >> shift) & 0xFF);
  }
  std::vector<std::string> objects_;
};

// `levels` arrays, each holding `fan` references to the next; the innermost
// is empty.
std::string binaryChain(std::size_t levels, std::size_t fan = 1) {
  BinaryPlist plist;
  for (uint32_t i = 0; i + 1 < levels; ++i) plist.container(std::vector<uint32_t>(fan, i + 1));
  plist.container({});
  return plist.bytes();
}

std::string xmlChain(std::size_t levels) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
  for (std::size_t i = 0; i < levels; ++i) out += "<array>";
  for (std::size_t i = 0; i < levels; ++i) out += "</array>";
  return out + "</plist>\n";
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

// Deep enough past the limit to overflow the parser's stack, yet within what
// one run of the disk utility may print (2 MiB): refused without a crash.
TEST(PlistShape, BoundsTheNestingOfBothFormats) {
  std::string emptyElements = xmlChain(kMaximumDepth - 1);
  emptyElements.insert(emptyElements.find("</array>"), "<array/><dict /><array></array>");
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
      {"XML empty elements do not nest", emptyElements, true},
  };
  for (const Case& c : cases) EXPECT_EQ(parses(c.bytes), c.within) << c.name;
}

// The parser copies a shared object once per reference: 40 levels of two
// references each would be 2^40 values from a few hundred bytes.
TEST(PlistShape, CountsSharedObjectsOncePerReference) {
  EXPECT_TRUE(parses(binaryChain(15, 2)));  // 32767 values
  EXPECT_FALSE(withinBounds(binaryChain(17, 2)));  // 131071 values
  EXPECT_FALSE(parses(binaryChain(40, 2)));
}

TEST(PlistShape, RefusesBinaryStructureThatCannotBeFollowed) {
  const std::string valid = BinaryPlist().container({1, 2}, true).string("Key").string("v").bytes();
  std::string badTable = valid;
  badTable[badTable.size() - 1] = '\x7F';  // offset table past the objects
  std::string badReferenceSize = valid;
  badReferenceSize[badReferenceSize.size() - 25] = '\0';
  struct Case {
    const char* name;
    std::string bytes;
    bool within;
  } cases[] = {
      {"dictionary", valid, true},
      {"cycle", BinaryPlist().container({1}).container({0}).bytes(), false},
      {"reference to itself", BinaryPlist().container({0}).bytes(), false},
      {"reference past the objects", BinaryPlist().container({5}).bytes(), false},
      {"references past the table", BinaryPlist().raw("\xA3").bytes(), false},
      {"long count", BinaryPlist().container(std::vector<uint32_t>(20, 1)).string("x").bytes(),
       true},
      {"long count of 2^15 bytes", BinaryPlist().raw("\xAF\x1F").bytes(), false},
      {"offset table past the objects", badTable, false},
      {"reference size 0", badReferenceSize, false},
      {"trailer only", std::string("bplist00") + std::string(32, '\0'), false},
      {"magic only", "bplist00", false},
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
    EXPECT_EQ(withinBounds(head + c.body + "</plist>\n"), c.within) << c.name;
  EXPECT_TRUE(parses(head + cases[0].body + "</plist>\n"));
}
