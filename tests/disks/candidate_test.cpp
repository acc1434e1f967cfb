#include "disks/candidate.h"

#include <gtest/gtest.h>

#include "helpers/plist_text.h"

namespace {

using nlohmann::json;

const json kGood = {{"DeviceIdentifier", "disk4"}, {"WholeDisk", true},
                    {"Internal", false},           {"VirtualOrPhysical", "Physical"},
                    {"Writable", true},            {"TotalSize", 16008609792},
                    {"BusProtocol", "USB"},        {"MediaName", "Stick"}};
const std::set<std::string> kProtected = {"disk0", "disk1"};

json with(const std::string& key, json value) {
  json info = kGood;
  if (value.is_null()) info.erase(key);
  else info[key] = std::move(value);
  return info;
}

// The candidate as "bsd|name|capacity|registryID|bus", or "refused".
std::string outcome(const json& info, const std::set<std::string>& protectedSet = kProtected,
                    std::optional<uint64_t> identity = 77) {
  const auto target = DiskInventory::candidate(diskInfo(info), protectedSet, identity);
  if (!target) return "refused";
  return target->bsd + "|" + target->name + "|" + std::to_string(target->capacity) + "|" +
         std::to_string(target->registryID) + "|" + target->bus;
}

}  // namespace

TEST(Candidate, AcceptsAnExternalPhysicalWritableWholeDisk) {
  EXPECT_EQ(outcome(kGood), "disk4|Stick|16008609792|77|USB");
  EXPECT_EQ(outcome(with("BusProtocol", "Secure Digital")),
            "disk4|Stick|16008609792|77|Secure Digital");
  EXPECT_EQ(outcome(with("BusProtocol", "SD")), "disk4|Stick|16008609792|77|SD");
  EXPECT_EQ(outcome(with("DeviceIdentifier", "DISK99999")), "DISK99999|Stick|16008609792|77|USB");
  EXPECT_EQ(outcome(with("TotalSize", 1.5e9)), "disk4|Stick|1500000000|77|USB");
  EXPECT_EQ(outcome(kGood, {"disk40"}, 1), "disk4|Stick|16008609792|1|USB");
}

TEST(Candidate, RefusesEveryDiskThatFailsATest) {
  struct Case {
    const char* name;
    json info;
  } cases[] = {
      {"no identifier", with("DeviceIdentifier", nullptr)},
      {"identifier a number", with("DeviceIdentifier", 4)},
      {"partition", with("DeviceIdentifier", "disk4s1")},
      {"six digits", with("DeviceIdentifier", "disk123456")},
      {"no digits", with("DeviceIdentifier", "disk")},
      {"not whole", with("WholeDisk", false)},
      {"whole unknown", with("WholeDisk", nullptr)},
      {"whole as a number", with("WholeDisk", 1)},
      {"internal", with("Internal", true)},
      {"internal unknown", with("Internal", nullptr)},
      {"internal as a string", with("Internal", "false")},
      {"virtual", with("VirtualOrPhysical", "Virtual")},
      {"physical in lower case", with("VirtualOrPhysical", "physical")},
      {"kind unknown", with("VirtualOrPhysical", nullptr)},
      {"read-only", with("Writable", false)},
      {"writable unknown", with("Writable", nullptr)},
      {"no size", with("TotalSize", nullptr)},
      {"size as a string", with("TotalSize", "16008609792")},
      {"size zero", with("TotalSize", 0)},
      {"bus in lower case", with("BusProtocol", "usb")},
      {"bus in mixed case", with("BusProtocol", "Secure digital")},
      {"other bus", with("BusProtocol", "SATA")},
      {"bus with a blank", with("BusProtocol", "USB ")},
      {"bus unknown", with("BusProtocol", nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.info), "refused") << c.name;
}

TEST(Candidate, RefusesProtectedDisksAndUnknownIdentity) {
  EXPECT_EQ(outcome(kGood, {"disk4"}), "refused");
  EXPECT_EQ(outcome(kGood, {"disk0", "disk4"}), "refused");
  EXPECT_EQ(outcome(kGood, {}), "refused");  // protection unknown
  EXPECT_EQ(outcome(kGood, kProtected, std::nullopt), "refused");
  EXPECT_EQ(outcome(kGood, kProtected, 0), "refused");
}

TEST(Candidate, NamesTheDiskByItsFirst160Characters) {
  const std::string accented = "e\xCC\x81";  // one user-perceived character
  std::string accents160, accents161;
  for (int i = 0; i < 160; ++i) accents160 += accented;
  accents161 = accents160 + accented;
  struct Case {
    const char* name;
    json mediaName;
    std::string expected;
  } cases[] = {
      {"missing", nullptr, "External drive"},
      {"empty", "", "External drive"},
      {"not a string", 42, "External drive"},
      {"blanks kept", "  Stick  ", "  Stick  "},
      {"exactly 160", std::string(160, 'x'), std::string(160, 'x')},
      {"longer", std::string(200, 'x'), std::string(160, 'x')},
      {"combining accents", accents161, accents160},
      {"invalid bytes", "Stick\xFF", "Stick\xEF\xBF\xBD"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DiskInventory::displayName(diskInfo(with("MediaName", c.mediaName))), c.expected)
        << c.name;
}
