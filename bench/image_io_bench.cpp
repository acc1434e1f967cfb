// Times the image passes on one image file and one block device, the way the
// job runs them. Usage: image_io_bench IMAGE DEVICE BLOCK_SIZE
// Prints "name value" lines: byte counts, and seconds for hashFile, one
// stream pass, writeAndVerify and each stage of it. The device is
// overwritten.

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>

#include "imageio/image_io.h"
#include "support/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int run(const char* image, const char* devicePath, int64_t blockSize) {
  const SourceFile source(image, std::nullopt, false);
  Cancellation cancel;

  auto start = Clock::now();
  const std::string digest = ImageIO::hashFile(source, cancel, [](int64_t) {});
  const double hashSeconds = secondsSince(start);

  start = Clock::now();
  const ImageIO::StreamResult expanded =
      ImageIO::stream(source, cancel, [](std::span<const uint8_t>) {});
  const double streamSeconds = secondsSince(start);

  // The job's device descriptor after its final open: direct I/O.
  const UniqueFd device(::open(devicePath, O_RDWR | O_DIRECT | O_CLOEXEC));
  if (!device) {
    std::perror(devicePath);
    return 1;
  }
  const Inspection inspection{source.size(), expanded.bytes, digest, expanded.sha256};
  std::map<std::string, double> stageEnd;
  start = Clock::now();
  ImageIO::writeAndVerify(
      source, device.get(), inspection, blockSize, cancel,
      [&](const WriteEvent& event) { stageEnd[event.stage] = secondsSince(start); });
  const double writeSeconds = secondsSince(start);

  std::printf("stored %lld\nexpanded %lld\n", static_cast<long long>(source.size()),
              static_cast<long long>(expanded.bytes));
  std::printf("hashFile %.3f\nstream %.3f\nwriteAndVerify %.3f\n", hashSeconds, streamSeconds,
              writeSeconds);
  // Each stage runs from the last event of the one before; the last stage
  // includes the padded last block and the flush before the read-back.
  std::printf("checking %.3f\ninspecting %.3f\nwriting %.3f\nflushVerifying %.3f\n",
              stageEnd["checking"], stageEnd["inspecting"] - stageEnd["checking"],
              stageEnd["writing"] - stageEnd["inspecting"], writeSeconds - stageEnd["writing"]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IMAGE DEVICE BLOCK_SIZE\n", argv[0]);
    return 2;
  }
  try {
    return run(argv[1], argv[2], std::atoll(argv[3]));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
