// The image passes of one job onto an ordinary file standing in for the
// drive: what the e2e cases cannot time, a change between two passes, a
// device failing or ending at a chosen block, a stop at each pass. Every
// packing, the events and the drive itself: the e2e cases.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <span>
#include <vector>

#include "helpers/image_files.h"
#include "helpers/outcome.h"
#include "helpers/temp_dir.h"
#include "imageio/block_writer.h"
#include "imageio/image_io.h"
#include "support/unique_fd.h"

namespace {

std::atomic<int> faultyFd{-1}, faultError{0}, passingCalls{0}, seenCalls{0};
std::atomic<std::size_t> passingLimit{SIZE_MAX};

// Makes write(2) on one descriptor misbehave while it lives: the first
// `passing` calls go through, each writing at most `passingBytes`, every
// later one fails with `error`, or returns 0 without writing when `error` is
// 0. The code under test calls write(2) as always: this binary's write checks
// for a fault before the system call.
struct WriteFault {
  WriteFault(int fd, int error, int passing = 0, std::size_t passingBytes = SIZE_MAX) {
    faultError = error;
    passingLimit = passingBytes;
    passingCalls = passing;
    seenCalls = 0;
    faultyFd = fd;
  }
  ~WriteFault() { faultyFd = -1; }
  WriteFault(const WriteFault&) = delete;
  WriteFault& operator=(const WriteFault&) = delete;
};

}  // namespace

extern "C" ssize_t write(int fd, const void* bytes, size_t count) {
  if (fd >= 0 && fd == faultyFd.load()) {
    if (seenCalls++ < passingCalls.load()) {
      count = std::min(count, passingLimit.load());
    } else {
      if (faultError.load() == 0) return 0;
      errno = faultError.load();
      return -1;
    }
  }
  return ::syscall(SYS_write, fd, bytes, count);
}

namespace {

constexpr int64_t kMiB = 1048576;
constexpr char kFill = '\xEE';  // what the "device" held before
constexpr char kChanged[] = "Source image changed. Select it again.";
constexpr char kExpanded[] = "Expanded image changed.";
constexpr char kNotAligned[] = "The image is empty or is not a sector-aligned disk image.";
constexpr char kWriteFailed[] = "Writing failed. Check the connection and free space.";
using Hook = std::function<void(const WriteEvent&)>;
using Totals = std::vector<int64_t>;

// Overwrites one byte in place: the writer's passes may be reading the file.
void patchFile(const std::string& path, int64_t offset, char byte) {
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_EQ(::pwrite(fd.get(), &byte, 1, offset), 1) << path;
}

// Runs `action` once, at the event of `stage` that reports `completed`.
Hook at(const char* stage, int64_t completed, std::function<void()> action) {
  return [=](const WriteEvent& e) {
    if (e.stage == stage && e.completed == completed) action();
  };
}

class Passes : public ::testing::Test {
 protected:
  void SetUp() override { writeFile(target, std::string(4 * kMiB, kFill)); }

  // Stores `expanded` as the image, packed as asked, and confirms it.
  void confirm(const std::string& expanded, const std::string& suffix = "") {
    writeFile(dir / "image.img", expanded);
    source = pack(dir / "image.img", suffix);
    const std::string stored = readFile(source);
    inspection = {static_cast<int64_t>(stored.size()), static_cast<int64_t>(expanded.size()),
                  sha256Of(stored), sha256Of(expanded)};
  }
  void confirm(int64_t size) { confirm(noiseBytes(static_cast<std::size_t>(size), 21)); }

  // One job onto `fd` (the target file by default): "" or its error's text;
  // the events are kept, `hook` sees each one.
  std::string run(int64_t blockSize, Hook hook = {}, int fd = -1) {
    events.clear();
    const UniqueFd device(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    return outcomeOf([&] {
      const SourceFile file(source, 0, false);
      ImageIO::writeAndVerify(file, fd < 0 ? device.get() : fd, inspection, blockSize, *cancel,
                              [&](const WriteEvent& e) {
                                events.push_back(e);
                                if (hook) hook(e);
                              });
    });
  }

  Totals completed(const std::string& stage) const {
    Totals values;
    for (const WriteEvent& e : events)
      if (e.stage == stage) values.push_back(e.completed);
    return values;
  }

  void patchSource(int64_t at) { patchFile(source, at, '\x5A'); }
  void appendSource(std::size_t count) { writeFile(source, readFile(source) + std::string(count, 'z')); }

  TempDir dir;
  const std::string target = dir / "target";
  std::string source;
  Inspection inspection;
  std::optional<Cancellation> cancel{std::in_place};
  std::vector<WriteEvent> events;
};

// What the user confirmed no longer holds, found at each pass in turn; only
// a change the write pass reads reaches the device, and it is refused before
// the read-back.
TEST_F(Passes, SourceChangesAreCaughtAtEveryPass) {
  // The write pass has written its first chunk and, reading one chunk ahead
  // of the device, read its second.
  constexpr int64_t kUnread = 2 * kMiB + 7;
  struct Case {
    const char* what;
    std::function<void()> before;
    Hook during;
    const char* message;
  } cases[] = {
      {"byte changed before the call", [this] { patchSource(100); }, {}, kChanged},
      {"stored size differs", [this] { inspection.bytes += 512; }, {}, kChanged},
      {"digest in capitals",
       [this] { for (char& c : inspection.sha256) c = static_cast<char>(toupper(c)); },
       {}, kChanged},
      {"expanded size larger", [this] { inspection.expanded += 512; }, {}, kExpanded},
      {"expanded digest differs", [this] { inspection.expandedSHA256[0] ^= 1; }, {},
       kExpanded},
      {"grown during the re-hash", {},
       at("checking", kMiB, [this] { appendSource(512); }),
       "Image changed or is empty."},
      {"cut during the re-hash", {},
       at("checking", kMiB, [this] { writeFile(source, readFile(source).substr(0, 1000)); }),
       "Image changed or is empty."},
      {"byte changed after the re-hash", {},
       at("checking", 3 * kMiB, [this] { patchSource(kMiB + 7); }),
       kExpanded},
      {"grown during the inspection", {},
       at("inspecting", kMiB, [this] { appendSource(512); }), kExpanded},
      {"byte changed while writing", {},
       at("writing", kMiB, [this] { patchSource(kUnread); }),
       "Source changed during writing."},
      {"unaligned tail while writing", {},
       at("writing", kMiB, [this] { appendSource(100); }), kNotAligned},
      {"a block more while writing", {},
       at("writing", kMiB, [this] { appendSource(512); }),
       "Expanded image is larger than expected."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    confirm(3 * kMiB);
    if (c.before) c.before();
    EXPECT_EQ(run(512, c.during), c.message);
    EXPECT_TRUE(completed("verifying").empty());
    const std::string held = readFile(target);
    EXPECT_EQ(held[kUnread] == '\x5A', std::string(c.message) == "Source changed during writing.");
    if (!c.during) {
      EXPECT_EQ(held, std::string(4 * kMiB, kFill)) << "written before the proof";
    }
  }
}

// Images that are no disk image: refused by the inspection, before writing.
TEST_F(Passes, RefusesAnEmptyOrUnalignedImage) {
  for (const auto& [expanded, suffix] : {std::pair{noiseBytes(1000, 11), ""},
                                         std::pair{std::string(), ".zip"}}) {
    confirm(expanded, suffix);
    EXPECT_EQ(run(512), kNotAligned) << suffix;
    EXPECT_TRUE(completed("writing").empty());
  }
}

// The device is changed behind the writer's back between writing and the
// read-back, through another descriptor. (A changed byte of the image: the
// counterfeit drive, end to end.)
TEST_F(Passes, ReadBackFindsWhatTheDeviceReallyHolds) {
  confirm(kMiB + 512);
  EXPECT_EQ(run(4096, at("verifying", kMiB, [&] { patchFile(target, kMiB + 4095, '\x01'); })),
            "USB padding verification failed.");
  EXPECT_EQ(completed("verifying"), Totals{kMiB});
  confirm(2 * kMiB);
  EXPECT_EQ(run(512, at("writing", 2 * kMiB,
                        [&] { ASSERT_EQ(::truncate(target.c_str(), kMiB + kMiB / 2), 0); })),
            "USB read-back failed.");
  EXPECT_EQ(completed("verifying"), Totals{kMiB});
}

// Destinations that cannot take the image; nothing is read back.
TEST_F(Passes, FailingDevicesEndTheJob) {
  const UniqueFd full(::open("/dev/full", O_RDWR | O_CLOEXEC));
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  const UniqueFd device(::open(target.c_str(), O_RDWR | O_CLOEXEC));
  struct Case {
    const char* what;
    int fd, error, passing;  // the WriteFault on `fd`, none for passing < 0
    const char* message;
    Totals writing;
  } cases[] = {
      {"no byte accepted", device.get(), 0, 0, kWriteFailed, {}},
      {"I/O error on the second block write", device.get(), EIO, 1, kWriteFailed, {kMiB}},
      {"a full device", full.get(), 0, -1, kWriteFailed, {}},
      {"a pipe", writeEnd.get(), 0, -1, "Cannot seek the target.", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    confirm(2 * kMiB);
    std::optional<WriteFault> fault;
    if (c.passing >= 0) fault.emplace(c.fd, c.error, c.passing);
    EXPECT_EQ(run(512, {}, c.fd), c.message);
    EXPECT_EQ(completed("writing"), c.writing);
    EXPECT_TRUE(completed("verifying").empty());
  }
  // The second write fails while the pass reads on and finds the source cut
  // short: the failed write, which came first, ends the job.
  confirm(4 * kMiB);
  const WriteFault fault(device.get(), EIO, 1);
  EXPECT_EQ(run(512, at("inspecting", 4 * kMiB,
                        [&] { ASSERT_EQ(::truncate(source.c_str(), 2 * kMiB + 100), 0); }),
                device.get()),
            kWriteFailed);
  EXPECT_EQ(completed("writing"), Totals{kMiB});
}

TEST_F(Passes, RefusesAnUnsupportedBlockSizeBeforeAnyIO) {
  confirm(4096);
  for (const int64_t blockSize : {256, 1536, 8192, 0, -512, 511, 3072}) {
    EXPECT_EQ(run(blockSize), "Unsupported device sector size.") << blockSize;
    EXPECT_TRUE(events.empty()) << blockSize;
  }
  EXPECT_EQ(readFile(target), std::string(4 * kMiB, kFill));
}

TEST_F(Passes, StopsAtTheNextCheckOfEachPass) {
  for (const char* stage : {"checking", "inspecting", "writing", "verifying"}) {
    confirm(3 * kMiB);
    EXPECT_EQ(run(4096, at(stage, kMiB, [&] { cancel->set(); })), "Operation cancelled.") << stage;
    EXPECT_EQ(completed(stage), Totals{kMiB}) << stage;
    cancel.emplace();
  }
}

// Each pass refuses an image past the limit, before the chunk that passes
// it goes on; what reaches the limit exactly is whole.
TEST_F(Passes, EachPassEndsPastTheSizeLimit) {
  confirm(std::string(2 * kMiB + 512, 'x'), ".gz");
  const SourceFile file(source, 0, false);
  const int64_t stored = inspection.bytes, expanded = inspection.expanded;
  int64_t consumed = 0;
  const auto consume = [&](std::span<const uint8_t> chunk) {
    consumed += static_cast<int64_t>(chunk.size());
  };
  const auto hash = [&](int64_t limit) {
    return outcomeOf([&] { ImageIO::hashFile(file, *cancel, [](int64_t) {}, limit); });
  };
  const auto expand = [&](int64_t limit) {
    return outcomeOf([&] { ImageIO::stream(file, *cancel, consume, limit); });
  };
  EXPECT_EQ(hash(stored), "");
  EXPECT_EQ(hash(stored - 1), "Image exceeds the supported size.");
  EXPECT_EQ(expand(expanded), "");
  consumed = 0;
  EXPECT_EQ(expand(expanded - 1), "Expanded image exceeds the supported size.");
  EXPECT_LT(consumed, expanded);
}

// However the chunks fall, blocks go out whole and the tail is padded with
// zeros, never with what an earlier tail left in its buffer.
TEST_F(Passes, BlockWriterPadsTheTailWhateverTheChunks) {
  const std::string image = noiseBytes(3000, 5);
  for (const std::vector<std::size_t>& chunks :
       {std::vector<std::size_t>{511, 514, 1000, 975}, {1, 2046, 953}, {3000}}) {
    SetUp();
    const UniqueFd device(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    Totals writing;
    const Progress progress = [&](const WriteEvent& e) { writing.push_back(e.completed); };
    ImageIO::BlockWriter writer(device.get(), 512, 3000, *cancel, progress);
    std::size_t at = 0;
    for (const std::size_t size : chunks) {
      writer.append({reinterpret_cast<const uint8_t*>(image.data()) + at, size});
      at += size;
    }
    writer.settle();
    writer.writeLastBlock();
    EXPECT_EQ(writing.back(), 2560) << chunks.size() << " chunks";
    EXPECT_EQ(readFile(target).substr(0, 4096),
              image + std::string(72, '\0') + std::string(1024, kFill))
        << chunks.size() << " chunks";
  }
}

// A device may take part of a write; the rest follows from where it stopped.
// (The writer installs no signal handler, so its writes see no EINTR.)
TEST_F(Passes, ShortWritesGoOnFromWhereTheDeviceStopped) {
  writeFile(target, "");
  const UniqueFd device(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
  const std::string bytes = noiseBytes(8192, 42);
  {
    const WriteFault fault(device.get(), EIO, 100, 1000);  // each call takes 1000 bytes
    ImageIO::writeAll(device.get(), {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    EXPECT_EQ(seenCalls, 9);
  }
  EXPECT_EQ(readFile(target), bytes);
}

}  // namespace
