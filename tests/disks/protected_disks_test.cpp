#include "disks/protected_disks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <system_error>

#include "helpers/fake_disk_utility.h"
#include "helpers/plist_text.h"
#include "platform/platform.h"
#include "records/imager_error.h"

namespace {

using nlohmann::json;

const json kPhysical = {{"VirtualOrPhysical", "Physical"}};
const json kVirtual = {{"VirtualOrPhysical", "Virtual"}};

// The disks of a made-up machine, by identifier, for `lookup`.
const std::map<std::string, json> kMachine = {
    {"disk0", kPhysical},
    {"disk0s2", {{"ParentWholeDisk", "disk0"}}},
    {"disk5", kVirtual},
    {"disk5s1", {{"ParentWholeDisk", "disk5"}}},
    {"DISK6S1", {{"ParentWholeDisk", "DISK6"}}},
    {"disk7", {{"VirtualOrPhysical", "physical"}}},
    {"disk8", json::object()},
    {"disk9s1", json::object()},
    {"disk9s2", {{"ParentWholeDisk", "disk9s1"}}},
    {"disk9s3", {{"ParentWholeDisk", 9}}},
    {"disk2", kPhysical},
    {"disk3", kPhysical},
};

DiskInfo lookup(const std::string& identifier) {
  const auto found = kMachine.find(identifier);
  if (found == kMachine.end()) throw ImagerError::message("lookup of " + identifier);
  return diskInfo(found->second);
}

std::string joined(const std::set<std::string>& disks) {
  std::string text;
  for (const auto& disk : disks) text += (text.empty() ? "" : ",") + disk;
  return text;
}

std::string storesOutcome(const json& volume) {
  try {
    return joined(DiskInventory::physicalStores(diskInfo(volume), lookup));
  } catch (const ImagerError& error) {
    return std::string("error: ") + error.what();
  }
}

json stores(json elements) { return {{"APFSPhysicalStores", std::move(elements)}}; }
json store(json identifier) { return {{"APFSPhysicalStore", std::move(identifier)}}; }

const char kApfsStore[] = "error: Cannot resolve an APFS backing store.";
const char kPhysicalDisk[] = "error: Cannot resolve a physical disk.";
const char kSystemDisks[] = "error: Cannot establish protected system disks.";
const char kBacking[] = "error: Cannot establish physical backing disks.";

}  // namespace

TEST(PhysicalStores, ApfsBranchYieldsTheParentOfEveryStore) {
  struct Case {
    const char* name;
    json volume;
    std::string expected;
  } cases[] = {
      {"two stores on two disks", stores({store("disk0s2"), store("disk5s1")}), "disk0,disk5"},
      {"parents taken without the physical test", stores({store("disk5s1")}), "disk5"},
      {"capital letters", stores({store("DISK6S1")}), "DISK6"},
      {"same disk twice", stores({store("disk0s2"), store("disk0s2")}), "disk0"},
      {"empty element", stores({json::object(), store("disk0s2")}), kApfsStore},
      {"no store key", stores({json{{"Other", "disk0s2"}}}), kApfsStore},
      {"store not a string", stores({store(2)}), kApfsStore},
      {"store is a whole disk", stores({store("disk0")}), kApfsStore},
      {"store with a suffix", stores({store("disk0s2x")}), kApfsStore},
      {"first failure ends it", stores({store("disk0s2"), store("disk0")}), kApfsStore},
      {"parent missing", stores({store("disk9s1")}), kPhysicalDisk},
      {"parent is a partition", stores({store("disk9s2")}), kPhysicalDisk},
      {"parent not a string", stores({store("disk9s3")}), kPhysicalDisk},
      {"lookup fails", stores({store("disk4s1")}), "error: lookup of disk4s1"},
  };
  for (const Case& c : cases) EXPECT_EQ(storesOutcome(c.volume), c.expected) << c.name;
}

TEST(PhysicalStores, PlainBranchYieldsThePhysicalWholeDisk) {
  const json partition = {{"ParentWholeDisk", "disk0"}, {"DeviceIdentifier", "disk0s1"}};
  struct Case {
    const char* name;
    json volume;
    std::string expected;
  } cases[] = {
      {"partition", partition, "disk0"},
      {"whole disk", {{"WholeDisk", true}, {"DeviceIdentifier", "disk2"}}, "disk2"},
      {"whole disk ignores its parent",
       {{"WholeDisk", true}, {"DeviceIdentifier", "disk3"}, {"ParentWholeDisk", "disk0"}},
       "disk3"},
      {"whole disk without identifier", {{"WholeDisk", true}, {"ParentWholeDisk", "disk0"}},
       kSystemDisks},
      {"not whole", {{"WholeDisk", false}, {"ParentWholeDisk", "disk0"}}, "disk0"},
      {"whole as a number", {{"WholeDisk", 1}, {"DeviceIdentifier", "disk2"}}, kSystemDisks},
      {"whole as a string", {{"WholeDisk", "true"}, {"ParentWholeDisk", "disk0"}}, "disk0"},
      {"no parent", {{"DeviceIdentifier", "disk0s1"}}, kSystemDisks},
      {"parent not a string", {{"ParentWholeDisk", 0}}, kSystemDisks},
      {"parent is a partition", {{"ParentWholeDisk", "disk0s1"}}, kSystemDisks},
      {"parent with a blank", {{"ParentWholeDisk", "disk0 "}}, kSystemDisks},
      {"virtual disk", {{"ParentWholeDisk", "disk5"}}, kBacking},
      {"lower-case physical", {{"ParentWholeDisk", "disk7"}}, kBacking},
      {"no kind", {{"ParentWholeDisk", "disk8"}}, kBacking},
      {"lookup fails", {{"ParentWholeDisk", "disk4"}}, "error: lookup of disk4"},
      // Anything but a non-empty array of dictionaries takes this branch.
      {"empty store array", {{"APFSPhysicalStores", json::array()}, {"ParentWholeDisk", "disk0"}},
       "disk0"},
      {"store array with a string",
       {{"APFSPhysicalStores", {store("disk5s1"), "disk5s1"}}, {"ParentWholeDisk", "disk0"}},
       "disk0"},
      {"stores not an array",
       {{"APFSPhysicalStores", store("disk5s1")}, {"ParentWholeDisk", "disk0"}}, "disk0"},
  };
  for (const Case& c : cases) EXPECT_EQ(storesOutcome(c.volume), c.expected) << c.name;
}

namespace {

// A fake machine whose volume at every given path is `volume` (disk1s1 on
// the physical disk1), as the host resolves those paths.
FakeDiskUtility machineFor(const std::vector<std::string>& paths) {
  json volumes = json::object();
  for (const auto& path : paths) volumes[*Platform::volumeOf(path)] = "disk1s1";
  return FakeDiskUtility({{"volumes", volumes},
                          {"disks",
                           {{"disk1s1", {{"ParentWholeDisk", "disk1"}}},
                            {"disk1", {{"VirtualOrPhysical", "Physical"}}}}}});
}

std::string protectedOutcome(const std::vector<std::string>& paths, const std::string& utility) {
  try {
    return joined(DiskInventory::protectedDisks(paths, utility));
  } catch (const std::exception& error) {
    return std::string("error: ") + error.what();
  }
}

}  // namespace

TEST(ProtectedDisks, AsksAfreshForEveryPath) {
  TempDir dir;
  FakeDiskUtility utility = machineFor({"/", dir.path()});
  EXPECT_EQ(protectedOutcome({"/", dir.path()}, utility.path()), "disk1");
  const std::string volume = *Platform::volumeOf(dir.path());
  EXPECT_EQ(utility.commandLines(),
            (std::vector<std::string>{"info -plist /", "info -plist disk1",
                                      "info -plist " + volume, "info -plist disk1"}));
}

TEST(ProtectedDisks, FailsWholeOnAnyFault) {
  FakeDiskUtility utility = machineFor({"/"});
  auto& faults = utility.description()["faults"];
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    json fault;  // for "info -plist disk1"
    std::string expected;
  } cases[] = {
      {"no paths", {}, nullptr, "error: System disk protection is unavailable."},
      {"utility fails", {"/"}, {{"exit", 1}, {"stderr", "Could not find disk: disk1"}},
       "error: System query failed: Could not find disk: disk1"},
      {"not a property list", {"/"}, "not-plist",
       "error: The data is not in the property list format."},
      {"top level not a dictionary", {"/"}, "not-dict", "error: Invalid system information."},
      {"floods its output", {"/"}, "flood",
       "error: System query timed out or returned too much data."},
      {"path missing", {"/", "/nonexistent/writer/path"}, nullptr,
       "error: " + std::string(std::strerror(ENOENT))},
  };
  for (const Case& c : cases) {
    faults = json::object();
    if (!c.fault.is_null()) faults["info -plist disk1"] = c.fault;
    utility.save();
    EXPECT_EQ(protectedOutcome(c.paths, utility.path()), c.expected) << c.name;
  }
}

TEST(ProtectedDisks, ReadsBinaryPropertyLists) {
  FakeDiskUtility utility = machineFor({"/"});
  utility.description()["format"] = "binary";
  utility.save();
  EXPECT_EQ(protectedOutcome({"/"}, utility.path()), "disk1");
}
