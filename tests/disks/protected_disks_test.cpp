#include "disks/protected_disks.h"

#include <gtest/gtest.h>

#include <map>

#include "helpers/outcome.h"
#include "helpers/plist_text.h"
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
    {"disk8", json::object()},
    {"disk9s1", json::object()},
    {"disk9s2", {{"ParentWholeDisk", "disk9s1"}}},
    {"disk9s3", {{"ParentWholeDisk", 9}}},
    {"disk2", kPhysical},
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
  return outcomeOf([&] { return joined(DiskInventory::physicalStores(diskInfo(volume), lookup)); },
                   "error: ");
}

json stores(json elements) { return {{"APFSPhysicalStores", std::move(elements)}}; }
json store(json identifier) { return {{"APFSPhysicalStore", std::move(identifier)}}; }

const char kApfsStore[] = "error: Cannot resolve an APFS backing store.";
const char kPhysicalDisk[] = "error: Cannot resolve a physical disk.";
const char kSystemDisks[] = "error: Cannot establish protected system disks.";
const char kBacking[] = "error: Cannot establish physical backing disks.";

}  // namespace

// With APFS stores: the parent of every store, physical or not.
TEST(PhysicalStores, YieldsTheWholeDisksBehindAVolume) {
  struct Case {
    const char* name;
    json volume;
    std::string expected;
  } cases[] = {
      {"two stores on two disks", stores({store("disk0s2"), store("disk5s1")}), "disk0,disk5"},
      {"parents taken without the physical test", stores({store("disk5s1")}), "disk5"},
      {"capital letters", stores({store("DISK6S1")}), "DISK6"},
      {"empty element", stores({json::object(), store("disk0s2")}), kApfsStore},
      {"store not a string", stores({store(2)}), kApfsStore},
      {"store is a whole disk", stores({store("disk0")}), kApfsStore},
      {"first failure ends it", stores({store("disk0s2"), store("disk0")}), kApfsStore},
      {"parent missing", stores({store("disk9s1")}), kPhysicalDisk},
      {"parent is a partition", stores({store("disk9s2")}), kPhysicalDisk},
      {"parent not a string", stores({store("disk9s3")}), kPhysicalDisk},
      {"lookup fails", stores({store("disk4s1")}), "error: lookup of disk4s1"},
      // Without stores: the volume's own whole disk, which must be physical.
      {"partition", {{"ParentWholeDisk", "disk0"}, {"DeviceIdentifier", "disk0s1"}}, "disk0"},
      {"whole disk", {{"WholeDisk", true}, {"DeviceIdentifier", "disk2"}}, "disk2"},
      {"whole disk without identifier", {{"WholeDisk", true}, {"ParentWholeDisk", "disk0"}},
       kSystemDisks},
      {"not whole", {{"WholeDisk", false}, {"ParentWholeDisk", "disk0"}}, "disk0"},
      {"whole as a number", {{"WholeDisk", 1}, {"DeviceIdentifier", "disk2"}}, kSystemDisks},
      {"whole as a string", {{"WholeDisk", "true"}, {"ParentWholeDisk", "disk0"}}, "disk0"},
      {"no parent", {{"DeviceIdentifier", "disk0s1"}}, kSystemDisks},
      {"parent not a string", {{"ParentWholeDisk", 0}}, kSystemDisks},
      {"parent is a partition", {{"ParentWholeDisk", "disk0s1"}}, kSystemDisks},
      {"virtual disk", {{"ParentWholeDisk", "disk5"}}, kBacking},
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

TEST(ProtectedDisks, NoPathsProtectNothingAndAreRefused) {
  EXPECT_EQ(outcomeOf([] { DiskInventory::protectedDisks({}, -1, "/nonexistent/diskutil"); }),
            "System disk protection is unavailable.");
}
