#include <gtest/gtest.h>

#include "disks/command.h"
#include "helpers/fake_disk_utility.h"
#include "records/imager_error.h"

// The stand-in disk utility's answers and fault knobs, as the runner sees
// them; the end-to-end tests rely on them too.

namespace {

using nlohmann::json;

std::string run(const FakeDiskUtility& utility, const std::vector<std::string>& arguments,
                double timeout = 15.0) {
  try {
    return Command::run(utility.path(), arguments, timeout, 2097152);
  } catch (const ImagerError& error) {
    return std::string("error: ") + error.what();
  }
}

}  // namespace

TEST(StandInDiskUtility, UnmountsKnownDisksOnly) {
  FakeDiskUtility utility({{"disks", {{"disk4", json::object()}}},
                           {"faults", {{"unmountDisk /dev/disk5",
                                        {{"exit", 1}, {"stderr", "Unmount of disk5 failed"}}}}}});
  EXPECT_EQ(run(utility, {"unmountDisk", "/dev/disk4"}),
            "Unmount of all volumes on disk4 was successful\n");
  EXPECT_EQ(run(utility, {"unmountDisk", "/dev/disk6"}),
            "error: System query failed: Unable to find disk for /dev/disk6\n");
  EXPECT_EQ(run(utility, {"unmountDisk", "/dev/disk5"}),
            "error: System query failed: Unmount of disk5 failed");
  EXPECT_EQ(run(utility, {"eject", "disk4"}),
            "error: System query failed: Unknown verb or arguments: eject disk4\n");
  EXPECT_EQ(utility.commandLines(),
            (std::vector<std::string>{"unmountDisk /dev/disk4", "unmountDisk /dev/disk6",
                                      "unmountDisk /dev/disk5", "eject disk4"}));
}

TEST(StandInDiskUtility, HangsUntilKilledWhenTold) {
  for (const char* fault : {"hang", "ignore-term"}) {
    FakeDiskUtility utility(json{{"faults", {{"*", fault}}}});
    EXPECT_EQ(run(utility, {"list", "-plist", "external", "physical"}, 0.5),
              "error: System query timed out or returned too much data.")
        << fault;
  }
}
