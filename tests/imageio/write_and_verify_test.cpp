// writeAndVerify onto ordinary files, which stand in for a device here; the
// sandbox's drive repeats the essentials through direct I/O, and the e2e
// cases show the events and every packing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "helpers/temp_dir.h"
#include "helpers/write_fault.h"
#include "imageio/image_io.h"
#include "imageio/write_run.h"
#include "records/imager_error.h"
#include "support/unique_fd.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr char kWriteFailed[] = "Writing failed. Check the connection and free space.";
constexpr char kFill = '\xEE';  // what the "device" held before

using Totals = std::vector<int64_t>;

class WriteAndVerifyFileTest : public ::testing::Test {
 protected:
  // A 4 MiB destination holding kFill, open like an ordinary file.
  void SetUp() override {
    target = dir / "target";
    writeFile(target, std::string(4 * kMiB, kFill));
    device.reset(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(device);
  }

  ConfirmedImage image(int64_t size, Packing packing = Packing::Raw) {
    return confirmedImage(dir, noiseBytes(static_cast<std::size_t>(size), 21), packing);
  }

  std::string run(const ConfirmedImage& confirmed, int64_t blockSize) {
    return run(job, confirmed, blockSize);
  }
  std::string run(WriteRun& attempt, const ConfirmedImage& confirmed, int64_t blockSize) {
    return attempt.run(confirmed, device.get(), blockSize);
  }

  TempDir dir;
  std::string target;
  UniqueFd device;
  WriteRun job;
};

TEST_F(WriteAndVerifyFileTest, UnsupportedBlockSizeIsRefusedBeforeAnyIO) {
  const ConfirmedImage confirmed = image(4096);
  for (const int64_t blockSize : {256, 1536, 8192, 0, -512, 511, 3072}) {
    const SourceFile source(confirmed.path, 0, false);
    ASSERT_EQ(::lseek(source.fd(), 7, SEEK_SET), 7);
    try {
      ImageIO::writeAndVerify(source, device.get(), confirmed.inspection, blockSize, job.cancel,
                              [&](const WriteEvent& event) { job.events.push_back(event); });
      ADD_FAILURE() << blockSize << " accepted";
    } catch (const ImagerError& error) {
      EXPECT_STREQ(error.what(), "Unsupported device sector size.") << blockSize;
    }
    EXPECT_EQ(::lseek(source.fd(), 0, SEEK_CUR), 7) << blockSize << ": the source was read";
    EXPECT_TRUE(job.events.empty()) << blockSize;
  }
  EXPECT_EQ(readFile(target), std::string(4 * kMiB, kFill));
}

// What the user confirmed no longer holds, found at each pass in turn.
TEST_F(WriteAndVerifyFileTest, SourceChangesAreCaughtAtEveryPass) {
  const std::string path = dir / "image.img";
  const auto patchSource = [&](int64_t at) { patchFile(path, static_cast<uint64_t>(at), "\x5A"); };
  const auto appendSource = [&](std::size_t count) {
    writeFile(path, readFile(path) + std::string(count, 'z'));
  };
  // The inspection pass is over; the write pass has written its first chunk
  // and, reading one chunk ahead of the device, read its second.
  constexpr int64_t kUnread = 2 * kMiB + 7;
  const auto isFirstWrite = [](const WriteEvent& e) {
    return e.stage == "writing" && e.completed == kMiB;
  };
  struct Case {
    const char* what;
    std::function<void(ConfirmedImage&)> before;
    std::function<void(const WriteEvent&)> during;
    const char* message;
    bool written;  // whether changed data reaches the device
  };
  const Case cases[] = {
      {"byte changed before the call",
       [&](ConfirmedImage&) { patchSource(100); },
       {},
       "Source image changed. Select it again.",
       false},
      {"stored size differs",
       [](ConfirmedImage& c) { c.inspection.bytes += 512; },
       {},
       "Source image changed. Select it again.",
       false},
      {"digest in capitals",
       [](ConfirmedImage& c) {
         for (char& ch : c.inspection.sha256) ch = static_cast<char>(std::toupper(ch));
       },
       {},
       "Source image changed. Select it again.",
       false},
      {"expanded digest differs",
       [](ConfirmedImage& c) { c.inspection.expandedSHA256[0] ^= 1; },
       {},
       "Expanded image changed.",
       false},
      {"byte changed after the re-hash",
       {},
       [&](const WriteEvent& e) {
         if (isLastOf(e, "checking")) patchSource(kMiB + 7);
       },
       "Expanded image changed.",
       false},
      {"grown during the inspection",
       {},
       [&](const WriteEvent& e) {
         if (e.stage == "inspecting" && e.completed == kMiB) appendSource(512);
       },
       "Expanded image changed.",
       false},
      {"byte changed while writing",
       {},
       [&](const WriteEvent& e) {
         if (isFirstWrite(e)) patchSource(kUnread);
       },
       "Source changed during writing.",
       true},
      {"unaligned tail while writing",
       {},
       [&](const WriteEvent& e) {
         if (isFirstWrite(e)) appendSource(100);
       },
       "The image is empty or is not a sector-aligned disk image.",
       false},
      {"a block more while writing",
       {},
       [&](const WriteEvent& e) {
         if (isFirstWrite(e)) appendSource(512);
       },
       "Expanded image is larger than expected.",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(target, std::string(4 * kMiB, kFill));
    ConfirmedImage confirmed = image(3 * kMiB);
    WriteRun attempt;
    if (c.before) c.before(confirmed);
    attempt.onEvent = c.during;
    EXPECT_EQ(run(attempt, confirmed, 512), c.message);
    EXPECT_TRUE(attempt.completed("verifying").empty());
    if (c.written) {
      EXPECT_EQ(readFile(target).substr(kUnread, 1), "\x5A");
    }
  }
}

TEST_F(WriteAndVerifyFileTest, NothingIsWrittenBeforeTheImageIsProven) {
  ConfirmedImage confirmed = image(2 * kMiB);
  confirmed.inspection.expanded += 512;
  EXPECT_EQ(run(confirmed, 512), "Expanded image changed.");
  EXPECT_TRUE(job.completed("writing").empty());
  EXPECT_EQ(readFile(target), std::string(4 * kMiB, kFill));
}

// The device is changed behind the writer's back between writing and the
// read-back, through another descriptor. (A byte of the image: the drive
// tests in the sandbox.)
TEST_F(WriteAndVerifyFileTest, ReadBackFindsWhatTheDeviceReallyHolds) {
  struct Case {
    const char* what;
    int64_t size;
    int64_t blockSize;
    std::function<void(const WriteEvent&)> during;
    const char* message;
    Totals verifying;
  };
  const Case cases[] = {
      {"a padding byte is not zero",
       kMiB + 512,
       4096,
       [&](const WriteEvent& e) {
         if (e.stage == "verifying" && e.completed == kMiB) patchFile(target, kMiB + 4095, "\x01");
       },
       "USB padding verification failed.",
       {kMiB}},
      {"the device ends early",
       2 * kMiB,
       512,
       [&](const WriteEvent& e) {
         if (isLastOf(e, "writing") && ::truncate(target.c_str(), kMiB + kMiB / 2) != 0)
           throw std::runtime_error("truncate failed");
       },
       "USB read-back failed.",
       {kMiB}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(target, std::string(4 * kMiB, kFill));
    const ConfirmedImage confirmed = image(c.size);
    WriteRun attempt;
    attempt.onEvent = c.during;
    EXPECT_EQ(run(attempt, confirmed, c.blockSize), c.message);
    EXPECT_EQ(attempt.completed("verifying"), c.verifying);
  }
}

TEST_F(WriteAndVerifyFileTest, FailingWritesEndTheJob) {
  const ConfirmedImage confirmed = image(2 * kMiB);
  struct Case {
    const char* what;
    int error;
    int passing;
    Totals writing;
  };
  const Case cases[] = {
      {"no byte accepted", 0, 0, {}},
      {"I/O error on the second block write", EIO, 1, {kMiB}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRun attempt;
    const WriteFault fault(device.get(), c.error, c.passing);
    EXPECT_EQ(run(attempt, confirmed, 512), kWriteFailed);
    EXPECT_EQ(attempt.completed("writing"), c.writing);
    EXPECT_TRUE(attempt.completed("verifying").empty());
  }
}

// The second write fails while the pass reads on and finds the source cut
// short: the failed write, which came first, is what ends the job.
TEST_F(WriteAndVerifyFileTest, AWriteFailingBehindTheReadsComesFirst) {
  const std::string path = dir / "image.img";
  const ConfirmedImage confirmed = image(4 * kMiB);
  job.onEvent = [&](const WriteEvent& e) {
    if (isLastOf(e, "inspecting") && ::truncate(path.c_str(), 2 * kMiB + 100) != 0)
      throw std::runtime_error("truncate failed");
  };
  const WriteFault fault(device.get(), EIO, 1);
  EXPECT_EQ(run(confirmed, 512), kWriteFailed);
  EXPECT_EQ(job.completed("writing"), Totals{kMiB});
}

TEST_F(WriteAndVerifyFileTest, FullDeviceFailsTheWrite) {
  const UniqueFd full(::open("/dev/full", O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(full);
  const ConfirmedImage confirmed = image(kMiB);
  EXPECT_EQ(job.run(confirmed, full.get(), 512), kWriteFailed);
  EXPECT_EQ(job.completed("inspecting"), Totals{kMiB});
  EXPECT_TRUE(job.completed("writing").empty());
}

TEST_F(WriteAndVerifyFileTest, UnseekableTargetIsRefusedBeforeWriting) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  EXPECT_EQ(job.run(image(4096), writeEnd.get(), 512), "Cannot seek the target.");
  EXPECT_TRUE(job.completed("writing").empty());
}

TEST_F(WriteAndVerifyFileTest, StopsAtTheNextCheckOfEachPass) {
  for (const char* stage : {"checking", "inspecting", "writing", "verifying"}) {
    SCOPED_TRACE(stage);
    WriteRun attempt;
    attempt.onEvent = [&](const WriteEvent& e) {
      if (e.stage == stage) attempt.cancel.set();
    };
    EXPECT_EQ(run(attempt, image(3 * kMiB), 4096), "Operation cancelled.");
    EXPECT_EQ(attempt.completed(stage), Totals{kMiB});
  }
}

}  // namespace
