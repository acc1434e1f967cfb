// writeAndVerify onto the sandbox's drive (run with 512- and 4096-byte
// sectors) through the descriptor the final open gives the job: direct I/O,
// so every transfer is whole blocks from aligned buffers, and the read-back
// sees what the drive holds, changed behind its back through the backing
// file.

#include <gtest/gtest.h>

#include "disks/disk_inventory.h"
#include "helpers/sandbox_drive.h"
#include "imageio/write_run.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr char kFill = '\xA5';  // what the drive held before

}  // namespace

TEST(DeviceWrite, WritesPadsAndReadsTheDriveBack) {
  const std::size_t block = sandboxSectorSize(), driveBytes = sandboxTarget().capacity;
  const std::string backing = sandboxBacking();
  const UniqueFd drive = DiskInventory::openFinal(sandboxTarget());
  const auto patch = [&](uint64_t at) { patchFile(backing, at, "\x01"); };
  struct Case {
    const char* name;
    int64_t size;
    std::function<void(const WriteEvent&)> during;
    std::string message;
  } cases[] = {
      {"a padded image", 3 * kMiB - 512, {}, ""},
      {"smaller than a block", 1536, {}, ""},
      {"a byte of the image differs", 2 * kMiB,
       [&](const WriteEvent& e) {
         if (isLastOf(e, "writing")) patch(kMiB + 1);
       },
       "USB verification failed. Do not use this drive to install."},
      // Past the image's last block only with 512-byte blocks.
      {"a byte after the image", kMiB + 512,
       [&](const WriteEvent& e) {
         if (e.stage == "verifying" && e.completed == kMiB) patch(kMiB + 1023);
       },
       block == 4096 ? "USB padding verification failed." : ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(backing, std::string(driveBytes, kFill));
    TempDir dir;
    const ConfirmedImage confirmed = confirmedImage(dir, noiseBytes(c.size, 31));
    WriteRun job;
    job.onEvent = c.during;
    ASSERT_EQ(job.run(confirmed, drive.get(), static_cast<int64_t>(block)), c.message);
    if (c.during) continue;
    // The image, zeros to the end of its last block, then the old bytes.
    const std::string held = readFile(backing);
    const std::size_t size = confirmed.expanded.size(), padded = (size + block - 1) / block * block;
    EXPECT_EQ(held.substr(0, size), confirmed.expanded);
    EXPECT_EQ(held.substr(size, padded - size), std::string(padded - size, '\0'));
    EXPECT_EQ(held.substr(padded), std::string(driveBytes - padded, kFill));
  }
}
