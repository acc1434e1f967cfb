#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <system_error>

#include "disks/disk_inventory.h"
#include "helpers/fake_disk_utility.h"
#include "helpers/loop_device.h"
#include "helpers/needs_root.h"
#include "helpers/sandbox.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "records/target_disk.h"
#include "support/user_account.h"

// The inventory runs in a sandbox that has "/System/Volumes/Data" and /dev
// nodes for the listed disks (all on one loop device, so all share its
// registry identity), against the stand-in disk utility.

namespace {

using nlohmann::json;

json externalDisk(const std::string& bsd, const std::string& bus = "USB") {
  return {{"DeviceIdentifier", bsd}, {"WholeDisk", true},
          {"Internal", false},       {"VirtualOrPhysical", "Physical"},
          {"Writable", true},        {"TotalSize", 32017219584},
          {"BusProtocol", bus},      {"MediaName", "Card " + bsd}};
}

// A machine whose system and data volumes are APFS on disk0s2, whose home
// volume is disk0s3, and whose externals are disk4 (USB) and disk5 (SD).
json machine() {
  const json apfs = {{"APFSPhysicalStores", {{{"APFSPhysicalStore", "disk0s2"}}}}};
  return {{"volumes", {{"/", "disk3s1"}, {"/System/Volumes/Data", "disk3s5"}}},
          {"wholeDisks", {"disk4", "disk5"}},
          {"disks",
           {{"disk0", {{"DeviceIdentifier", "disk0"}, {"WholeDisk", true}, {"Internal", true},
                       {"VirtualOrPhysical", "Physical"}}},
            {"disk0s2", {{"DeviceIdentifier", "disk0s2"}, {"ParentWholeDisk", "disk0"}}},
            {"disk0s3", {{"DeviceIdentifier", "disk0s3"}, {"ParentWholeDisk", "disk0"}}},
            {"disk3s1", apfs},
            {"disk3s5", apfs},
            {"disk4", externalDisk("disk4")},
            {"disk4s1", {{"DeviceIdentifier", "disk4s1"}, {"ParentWholeDisk", "disk4"}}},
            {"disk5", externalDisk("disk5", "SD")}}}};
}

std::vector<SandboxNode> diskNodes(int first, int count, dev_t device) {
  std::vector<SandboxNode> nodes;
  for (int n = first; n < first + count; ++n)
    nodes.push_back({"disk" + std::to_string(n), S_IFBLK, device, ""});
  return nodes;
}

// The listing as JSON text, or "error: " and the message. The home volume is
// added to the description from inside the sandbox, where it is resolved.
std::string listIn(Sandbox sandbox, FakeDiskUtility& utility,
                   const std::vector<std::string>& extraPaths = {},
                   const std::string& utilityPath = "") {
  sandbox.volumes.push_back("/System/Volumes/Data");
  sandbox.privateDev = true;
  return runSandboxed(sandbox, [&] {
    utility.description()["volumes"][*Platform::volumeOf(*homeDirectoryOf(geteuid()))] = "disk0s3";
    utility.save();
    try {
      const std::string path = utilityPath.empty() ? utility.path() : utilityPath;
      return json(DiskInventory::list(extraPaths, path)).dump();
    } catch (const std::exception& error) {
      return std::string("error: ") + error.what();
    }
  });
}

json target(const std::string& bsd, uint64_t registryID, const std::string& bus = "USB") {
  return json(TargetDisk{bsd, "Card " + bsd, 32017219584, registryID, bus});
}

}  // namespace

class InventoryList : public NeedsRoot {};

TEST_F(InventoryList, ListsWritableExternalDisksAfterProtectingTheSystem) {
  LoopDevice loop(1 << 20);
  FakeDiskUtility utility(machine());
  const std::string listed = listIn(privateDevWith(diskNodes(4, 2, loop.device())), utility);
  EXPECT_EQ(listed, json({target("disk4", loop.diskseq()), target("disk5", loop.diskseq(), "SD")})
                        .dump());

  const auto lines = utility.commandLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"info -plist /", "info -plist disk0s2",
                                      "info -plist /System/Volumes/Data", "info -plist disk0s2"}));
  EXPECT_EQ(lines[5], "info -plist disk0");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.end()),
            (std::vector<std::string>{"list -plist external physical", "info -plist disk4",
                                      "info -plist disk5"}));
  for (const json& call : utility.calls())
    EXPECT_EQ(call["fds"].size(), 3u) << call.dump();  // 0, 1 and 2 only
}

TEST_F(InventoryList, LeavesOutDisksThatAreNoCandidates) {
  LoopDevice loop(1 << 20);
  json description = machine();
  description["wholeDisks"] = {"disk4", "disk5", "disk6", "disk7", "disk8", "disk9"};
  description["disks"]["disk6"] = externalDisk("disk6", "usb");
  description["disks"]["disk7"] = externalDisk("disk7");
  description["disks"]["disk7"].erase("Internal");
  description["disks"]["disk8"] = externalDisk("disk8");
  description["disks"]["disk8"]["TotalSize"] = 0;
  description["disks"]["disk9"] = externalDisk("disk9");  // no /dev node: no registry identity
  FakeDiskUtility utility(description);
  EXPECT_EQ(listIn(privateDevWith(diskNodes(4, 5, loop.device())), utility),
            json({target("disk4", loop.diskseq()), target("disk5", loop.diskseq(), "SD")}).dump());
}

TEST_F(InventoryList, NeverListsTheDiskOfAProtectedPath) {
  LoopDevice loop(1 << 20);
  TempDir image;
  FakeDiskUtility utility(machine());
  // In the sandbox every top-level directory is a volume of its own.
  utility.description()["volumes"]["/tmp"] = "disk4s1";
  utility.save();
  EXPECT_EQ(listIn(privateDevWith(diskNodes(4, 2, loop.device())), utility, {image.path()}),
            json({target("disk5", loop.diskseq(), "SD")}).dump());
}

TEST_F(InventoryList, AcceptsAt128WholeDisks) {
  LoopDevice loop(1 << 20);
  json description = machine();
  for (int count : {128, 129}) {
    description["wholeDisks"] = json::array();
    for (int n = 10; n < 10 + count; ++n) {
      const std::string bsd = "disk" + std::to_string(n);
      description["wholeDisks"].push_back(bsd);
      description["disks"][bsd] = externalDisk(bsd);
    }
    FakeDiskUtility utility(description);
    const std::string listed =
        listIn(privateDevWith(diskNodes(10, count, loop.device())), utility);
    if (count == 128) EXPECT_EQ(json::parse(listed).size(), 128u) << listed.substr(0, 200);
    else EXPECT_EQ(listed, "error: Invalid external drive inventory.");
  }
}

TEST_F(InventoryList, FailsWholeOnABadListingOrDisk) {
  LoopDevice loop(1 << 20);
  struct Case {
    const char* name;
    const char* key;
    json value;
    std::string expected;
  } cases[] = {
      {"empty listing", "wholeDisks", json::array(), "[]"},
      {"partition listed", "wholeDisks", {"disk4", "disk4s1"}, "error: Invalid device identifier."},
      {"long identifier", "wholeDisks", {"disk123456"}, "error: Invalid device identifier."},
      {"no WholeDisks", "listing", {{"AllDisks", {"disk4"}}},
       "error: Invalid external drive inventory."},
      {"WholeDisks a string", "listing", {{"WholeDisks", "disk4"}},
       "error: Invalid external drive inventory."},
      {"WholeDisks with a number", "listing", {{"WholeDisks", {"disk4", 5}}},
       "error: Invalid external drive inventory."},
      {"listing an array", "faults", {{"list -plist external physical", "not-dict"}},
       "error: Invalid system information."},
      {"listing not a property list", "faults", {{"list -plist external physical", "not-plist"}},
       "error: The data is not in the property list format."},
      {"listing fails", "faults",
       {{"list -plist external physical", {{"exit", 1}, {"stderr", "no listing"}}}},
       "error: System query failed: no listing"},
      {"listed disk an array", "faults", {{"info -plist disk5", "not-dict"}},
       "error: Invalid system information."},
      {"listed disk unknown", "wholeDisks", {"disk4", "disk6"},
       "error: System query failed: Could not find disk: disk6\n"},
      {"system volume unknown", "volumes", {{"/System/Volumes/Data", "disk3s5"}},
       "error: System query failed: Could not find disk: /\n"},
  };
  for (const Case& c : cases) {
    json description = machine();
    description[c.key] = c.value;
    FakeDiskUtility utility(description);
    EXPECT_EQ(listIn(privateDevWith(diskNodes(4, 2, loop.device())), utility), c.expected)
        << c.name;
  }
}

TEST_F(InventoryList, RunsTheDiskUtilityAtItsFixedPath) {
  LoopDevice loop(1 << 20);
  json description = machine();
  description["format"] = "binary";
  FakeDiskUtility utility(description);
  Sandbox sandbox = privateDevWith(diskNodes(4, 2, loop.device()));
  sandbox.files.push_back({kDiskUtility, utility.path()});
  EXPECT_EQ(listIn(sandbox, utility, {}, kDiskUtility),
            json({target("disk4", loop.diskseq()), target("disk5", loop.diskseq(), "SD")}).dump());
  EXPECT_EQ(utility.calls().size(), 9u);
}

// Outside the sandbox "/System/Volumes/Data" does not exist: the inventory
// fails with the system's error after asking about "/" only.
TEST_F(InventoryList, FailsWithThePlatformErrorForAMissingSystemVolume) {
  struct stat st{};
  if (lstat("/System/Volumes/Data", &st) == 0) GTEST_SKIP() << "the host has the volume";
  json description = machine();
  description["volumes"][*Platform::volumeOf("/")] = "disk3s1";
  FakeDiskUtility utility(description);
  try {
    DiskInventory::list({}, utility.path());
    ADD_FAILURE() << "listed";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
  }
  EXPECT_EQ(utility.commandLines(),
            (std::vector<std::string>{"info -plist /", "info -plist disk0s2"}));
}
