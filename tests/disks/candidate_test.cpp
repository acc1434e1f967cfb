#include "disks/candidate.h"

#include <gtest/gtest.h>

#include "helpers/plist_text.h"

namespace {

using nlohmann::json;

const json kGood = {{"DeviceIdentifier", "disk4"}, {"WholeDisk", true},
                    {"Internal", false},           {"VirtualOrPhysical", "Physical"},
                    {"Writable", true},            {"TotalSize", 16008609792},
                    {"BusProtocol", "USB"},        {"MediaName", "Stick"}};

// kGood with `key` set to `value`, or without it for null.
json with(const std::string& key, json value) {
  json info = kGood;
  if (value.is_null()) info.erase(key);
  else info[key] = std::move(value);
  return info;
}

}  // namespace

// The candidate as "bsd|capacity|registryID|bus", or "refused".
TEST(Candidate, PassesEveryTestOrIsRefused) {
  const std::set<std::string> kSystem = {"disk0", "disk1"};
  struct Case {
    const char* name;
    json info;
    std::string expected;
    std::set<std::string> protectedSet = {"disk0", "disk1"};
    std::optional<uint64_t> identity = 77;
  } cases[] = {
      {"external USB stick", kGood, "disk4|16008609792|77|USB"},
      {"SD card", with("BusProtocol", "Secure Digital"), "disk4|16008609792|77|Secure Digital"},
      {"short bus name", with("BusProtocol", "SD"), "disk4|16008609792|77|SD"},
      {"identifier in capitals", with("DeviceIdentifier", "DISK99999"),
       "DISK99999|16008609792|77|USB"},
      {"size as a real", with("TotalSize", 1.5e9), "disk4|1500000000|77|USB"},
      {"no identifier", with("DeviceIdentifier", nullptr), "refused"},
      {"identifier a number", with("DeviceIdentifier", 4), "refused"},
      {"partition", with("DeviceIdentifier", "disk4s1"), "refused"},
      {"six digits", with("DeviceIdentifier", "disk123456"), "refused"},
      {"not whole", with("WholeDisk", false), "refused"},
      {"whole unknown", with("WholeDisk", nullptr), "refused"},
      {"internal", with("Internal", true), "refused"},
      {"internal unknown", with("Internal", nullptr), "refused"},
      {"internal as a string", with("Internal", "false"), "refused"},
      {"virtual", with("VirtualOrPhysical", "Virtual"), "refused"},
      {"physical in lower case", with("VirtualOrPhysical", "physical"), "refused"},
      {"kind unknown", with("VirtualOrPhysical", nullptr), "refused"},
      {"read-only", with("Writable", false), "refused"},
      {"writable unknown", with("Writable", nullptr), "refused"},
      {"no size", with("TotalSize", nullptr), "refused"},
      {"size as a string", with("TotalSize", "16008609792"), "refused"},
      {"size zero", with("TotalSize", 0), "refused"},
      {"bus in lower case", with("BusProtocol", "usb"), "refused"},
      {"other bus", with("BusProtocol", "SATA"), "refused"},
      {"bus with a blank", with("BusProtocol", "USB "), "refused"},
      {"bus unknown", with("BusProtocol", nullptr), "refused"},
      {"protected", kGood, "refused", {"disk0", "disk4"}},
      {"protection unknown", kGood, "refused", {}},
      {"identity unknown", kGood, "refused", kSystem, std::nullopt},
      {"identity zero", kGood, "refused", kSystem, 0},
  };
  for (const Case& c : cases) {
    const auto target = DiskInventory::candidate(diskInfo(c.info), c.protectedSet, c.identity);
    const std::string outcome =
        target ? target->bsd + "|" + std::to_string(target->capacity) + "|" +
                     std::to_string(target->registryID) + "|" + target->bus
               : "refused";
    EXPECT_EQ(outcome, c.expected) << c.name;
  }
}

TEST(Candidate, NamesTheDiskByItsFirst160Characters) {
  const std::string accented = "e\xCC\x81";  // one user-perceived character
  std::string accents160;
  for (int i = 0; i < 160; ++i) accents160 += accented;
  struct Case {
    const char* name;
    json mediaName;
    std::string expected;
  } cases[] = {
      {"missing", nullptr, "External drive"},
      {"empty", "", "External drive"},
      {"not a string", 42, "External drive"},
      {"blanks kept", "  Stick  ", "  Stick  "},
      {"longer", std::string(161, 'x'), std::string(160, 'x')},
      {"combining accents", accents160 + accented, accents160},
      {"invalid bytes", "Stick\xFF", "Stick\xEF\xBF\xBD"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DiskInventory::displayName(diskInfo(with("MediaName", c.mediaName))), c.expected)
        << c.name;
  EXPECT_EQ(DiskInventory::candidate(diskInfo(kGood), {"disk0"}, 1)->name, "Stick");
}
