// The inventory inside the sandbox, through the real disk utility and the
// sandbox's fabricated sysfs: an internal disk holds the system's volumes,
// the drive is a USB stick with a volume of its own at /Volumes/DRIVE. The
// stand-in, mounted over the utility, prints what the utility never would.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "disks/disk_inventory.h"
#include "helpers/outcome.h"
#include "helpers/sandbox_drive.h"
#include "helpers/temp_dir.h"

namespace {

using nlohmann::json;

// Faults the stand-in's command lines with `faults`; none: the real utility.
void setFaults(const json& faults) {
  ASSERT_EQ(std::system("/sandbox/use-stand-in"), 0);
  writeFile(std::getenv("SANDBOX_STATE"), json{{"faults", faults}}.dump());
}

// The listing as JSON text, or "error: " and the message.
std::string listing(const std::vector<std::string>& extraPaths = {}) {
  return outcomeOf([&] { return json(DiskInventory::list(extraPaths)).dump(); }, "error: ");
}

}  // namespace

// (129 disks, a failing utility: the e2e cases.)
TEST(Inventory, ListsTheDriveOrFailsWhole) {
  const std::string drive = sandbox("DISK"), list = "list -plist external physical";
  const json target = sandboxTarget();
  const auto times = [&](std::size_t count) { return json(std::vector(count, target)).dump(); };
  const auto listed = [&](const json& disks, const char* format = "xml") {
    return json{{list, {{"print", {{"WholeDisks", disks}}}, {"format", format}}}};
  };
  const json notDict = {{"print", json::array({drive})}};
  const std::string invalidInventory = "error: Invalid external drive inventory.";
  struct Case {
    const char* name;
    json faults;
    std::string expected;
  } cases[] = {
      {"as the kernel has it", json::object(), times(1)},
      {"binary property lists", listed({drive}, "binary"), times(1)},
      {"128 whole disks", listed(std::vector<std::string>(128, drive)), times(128)},
      {"a disk no longer attached", listed({drive, "disk99998"}), "error: System query failed: "
                                                                  "Could not find disk: disk99998\n"},
      {"a partition listed", listed({drive, drive + "s1"}), "error: Invalid device identifier."},
      {"a six-digit identifier", listed({"disk123456"}), "error: Invalid device identifier."},
      {"no WholeDisks", json{{list, {{"print", {{"AllDisks", {drive}}}}}}}, invalidInventory},
      {"WholeDisks with a number", listed({drive, 5}), invalidInventory},
      {"listing not a dictionary", json{{list, notDict}}, "error: Invalid system information."},
      {"a volume's information not a dictionary", json{{"info -plist /", notDict}},
       "error: Invalid system information."},
      {"listing not a property list", json{{list, {{"stdout", "this is not a property list\n"}}}},
       "error: The data is not in the property list format."},
  };
  for (const Case& c : cases) {
    setFaults(c.faults);
    EXPECT_EQ(listing(), c.expected) << c.name;
  }
  setFaults(json::object());
}

// (The drive refused for the source on it: the e2e cases.)
TEST(Inventory, FailsForACallersPathThatIsNotThere) {
  EXPECT_EQ(listing({"/nonexistent"}), std::string("error: ") + std::strerror(ENOENT));
}
