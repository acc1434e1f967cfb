// writeAndVerify onto loop devices opened for direct I/O, as the job holds
// its target: every transfer must be whole blocks from aligned buffers, and
// the read-back must see what the device holds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "helpers/loop_device.h"
#include "helpers/temp_dir.h"
#include "imageio/write_run.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr char kFill = '\xA5';  // what the drive held before
constexpr uint64_t kDeviceBytes = 4 * kMiB;

using Totals = std::vector<int64_t>;

class WriteAndVerifyDeviceTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    device = std::make_unique<LoopDevice>(kDeviceBytes, sectorSize(), kFill);
  }

  unsigned sectorSize() const { return GetParam(); }

  ConfirmedImage image(int64_t size, Packing packing = Packing::Raw) {
    return confirmedImage(dir, noiseBytes(static_cast<std::size_t>(size), 31), packing);
  }

  std::string run(WriteRun& job, const ConfirmedImage& confirmed) {
    return job.run(confirmed, device->fd(), sectorSize());
  }

  // The image, then zeros to the end of its last block, then the old bytes.
  void expectDeviceHolds(const std::string& expanded) {
    const std::string after = readFile(device->backing());
    const std::size_t padded = (expanded.size() + sectorSize() - 1) / sectorSize() * sectorSize();
    EXPECT_EQ(after.substr(0, expanded.size()), expanded);
    EXPECT_EQ(after.substr(expanded.size(), padded - expanded.size()),
              std::string(padded - expanded.size(), '\0'));
    EXPECT_EQ(after.substr(padded), std::string(kDeviceBytes - padded, kFill));
  }

  TempDir dir;
  std::unique_ptr<LoopDevice> device;
};

TEST_P(WriteAndVerifyDeviceTest, WritesPadsAndVerifiesThroughDirectIO) {
  struct Case {
    int64_t size;
    Totals writing4096, verifying4096;  // with 4096-byte sectors
    Totals writing512, verifying512;    // with 512-byte sectors
  };
  const Case cases[] = {
      {1536, {}, {1536}, {1536}, {1536}},
      {kMiB + 512, {kMiB}, {kMiB, kMiB + 512}, {kMiB, kMiB + 512}, {kMiB, kMiB + 512}},
      {2 * kMiB, {kMiB, 2 * kMiB}, {kMiB, 2 * kMiB}, {kMiB, 2 * kMiB}, {kMiB, 2 * kMiB}},
      {3 * kMiB - 512,
       {kMiB, 2 * kMiB, 3 * kMiB - 4096},
       {kMiB, 2 * kMiB, 3 * kMiB - 512},
       {kMiB, 2 * kMiB, 3 * kMiB - 512},
       {kMiB, 2 * kMiB, 3 * kMiB - 512}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("image of " + std::to_string(c.size));
    writeFile(device->backing(), std::string(kDeviceBytes, kFill));
    const ConfirmedImage confirmed = image(c.size);
    WriteRun job;
    ASSERT_EQ(run(job, confirmed), "");
    const bool large = sectorSize() == 4096;
    EXPECT_EQ(job.completed("writing"), large ? c.writing4096 : c.writing512);
    EXPECT_EQ(job.completed("verifying"), large ? c.verifying4096 : c.verifying512);
    expectDeviceHolds(confirmed.expanded);
  }
}

TEST_P(WriteAndVerifyDeviceTest, PackedImagesAreWrittenExpanded) {
  for (const Packing packing : {Packing::Gzip, Packing::Xz, Packing::Zip}) {
    SCOPED_TRACE(packingName(packing));
    writeFile(device->backing(), std::string(kDeviceBytes, kFill));
    const ConfirmedImage confirmed = image(2 * kMiB + 1536, packing);
    WriteRun job;
    ASSERT_EQ(run(job, confirmed), "");
    expectDeviceHolds(confirmed.expanded);
  }
}

// The backing file is changed between the write and the read-back; the
// read-back reaches it only if it really reads the device.
TEST_P(WriteAndVerifyDeviceTest, ReadBackSeesTheDeviceNotACache) {
  struct Case {
    const char* what;
    int64_t size;
    std::function<void(const std::string&, const WriteEvent&)> during;
    const char* message;
  };
  const Case cases[] = {
      {"a byte of the image differs", 2 * kMiB,
       [](const std::string& backing, const WriteEvent& e) {
         if (isLastOf(e, "writing")) patchFile(backing, kMiB + 1, "\x01");
       },
       "USB verification failed. Do not use this drive to install."},
      {"a padding byte is not zero", kMiB + 512,
       [](const std::string& backing, const WriteEvent& e) {
         if (e.stage == "verifying" && e.completed == kMiB) patchFile(backing, kMiB + 1023, "\x01");
       },
       "USB padding verification failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (sectorSize() == 512 && c.size % 4096 != 0) continue;  // no padding with 512-byte blocks
    WriteRun job;
    job.onEvent = [&](const WriteEvent& e) { c.during(device->backing(), e); };
    EXPECT_EQ(run(job, image(c.size)), c.message);
  }
}

TEST_P(WriteAndVerifyDeviceTest, DeviceTooSmallFailsTheWrite) {
  const ConfirmedImage confirmed = image(5 * kMiB);
  WriteRun job;
  EXPECT_EQ(run(job, confirmed), "Writing failed. Check the connection and free space.");
  EXPECT_EQ(job.completed("writing"), (Totals{kMiB, 2 * kMiB, 3 * kMiB, 4 * kMiB}));
  EXPECT_TRUE(job.completed("verifying").empty());
}

INSTANTIATE_TEST_SUITE_P(Sectors, WriteAndVerifyDeviceTest, ::testing::Values(512u, 4096u),
                         [](const auto& param) { return std::to_string(param.param); });

}  // namespace
