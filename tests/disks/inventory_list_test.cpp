// The inventory inside the sandbox, against the stand-in disk utility at its
// fixed path: an internal APFS disk holds every system volume, the drive is
// an external USB disk with a volume of its own at /Volumes/DRIVE.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "disks/disk_inventory.h"
#include "helpers/sandbox_drive.h"
#include "helpers/temp_dir.h"

namespace {

using nlohmann::json;

json standInState() { return json::parse(readFile(std::getenv("SANDBOX_STATE"))); }
void setStandInState(const json& state) { writeFile(std::getenv("SANDBOX_STATE"), state.dump()); }

// The listing as JSON text, or "error: " and the message.
std::string listing(const std::vector<std::string>& extraPaths = {}) {
  try {
    return json(DiskInventory::list(extraPaths)).dump();
  } catch (const std::exception& error) {
    return std::string("error: ") + error.what();
  }
}

}  // namespace

// (129 disks, a failing utility: the e2e cases.)
TEST(Inventory, ListsTheDriveOrFailsWhole) {
  const json described = standInState();
  const std::string drive = sandboxDisk(), list = "list -plist external physical";
  const json target = sandboxTarget();
  const auto times = [&](std::size_t count) { return json(std::vector(count, target)).dump(); };
  const auto listed = [&](std::size_t count) {
    return [=](json& s) { s["wholeDisks"] = std::vector<std::string>(count, drive); };
  };
  const std::string notFound = "error: System query failed: Could not find disk: ";
  const std::string invalidInventory = "error: Invalid external drive inventory.";
  struct Case {
    const char* name;
    std::function<void(json&)> change;
    std::string expected;
  } cases[] = {
      {"as described", [](json&) {}, times(1)},
      {"binary property lists", [](json& s) { s["format"] = "binary"; }, times(1)},
      {"128 whole disks", listed(128), times(128)},
      {"a disk without a node, so without identity",
       [&](json& s) {
         s["disks"]["disk99999"] = s["disks"][drive];
         s["disks"]["disk99999"]["DeviceIdentifier"] = "disk99999";
         s["wholeDisks"] = {drive, "disk99999"};
       },
       times(1)},
      {"a partition listed", [&](json& s) { s["wholeDisks"] = {drive, drive + "s1"}; },
       "error: Invalid device identifier."},
      {"a six-digit identifier", [](json& s) { s["wholeDisks"] = {"disk123456"}; },
       "error: Invalid device identifier."},
      {"no WholeDisks", [&](json& s) { s["listing"] = {{"AllDisks", {drive}}}; }, invalidInventory},
      {"WholeDisks with a number", [&](json& s) { s["listing"] = {{"WholeDisks", {drive, 5}}}; },
       invalidInventory},
      {"listing not a dictionary", [&](json& s) { s["faults"][list] = "not-dict"; },
       "error: Invalid system information."},
      {"a volume's information not a dictionary",
       [](json& s) { s["faults"]["info -plist /"] = "not-dict"; },
       "error: Invalid system information."},
      {"listing not a property list", [&](json& s) { s["faults"][list] = "not-plist"; },
       "error: The data is not in the property list format."},
      {"a system volume unknown", [](json& s) { s["volumes"].erase("/System/Volumes/Data"); },
       notFound + "/System/Volumes/Data\n"},
      {"its physical store unknown", [](json& s) { s["disks"].erase("disk0s2"); },
       notFound + "disk0s2\n"},
  };
  for (const Case& c : cases) {
    json state = described;
    c.change(state);
    setStandInState(state);
    EXPECT_EQ(listing(), c.expected) << c.name;
  }
  setStandInState(described);
}

// (The drive refused for the source on it: the e2e cases.)
TEST(Inventory, FailsForACallersPathThatIsNotThere) {
  EXPECT_EQ(listing({"/nonexistent"}), std::string("error: ") + std::strerror(ENOENT));
}
