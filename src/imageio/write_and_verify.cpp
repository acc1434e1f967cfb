#include <unistd.h>

#include "imageio/block_writer.h"
#include "imageio/image_io.h"
#include "imageio/read_back.h"
#include "platform/platform.h"
#include "records/imager_error.h"

namespace ImageIO {

namespace {

bool isAcceptedBlockSize(int64_t blockSize) {
  return blockSize == 512 || blockSize == 1024 || blockSize == 2048 || blockSize == 4096;
}

[[noreturn]] void fail(const char* message) { throw ImagerError::message(message); }

// The source still hashes to what the user confirmed.
void recheckSource(const SourceFile& source, const Inspection& inspection,
                   const Cancellation& cancel, const Progress& progress) {
  const std::string digest = hashFile(source, cancel, [&](int64_t done) {
    progress(WriteEvent{"checking", done, source.size(), std::nullopt});
  });
  if (digest != inspection.sha256 || source.size() != inspection.bytes)
    fail("Source image changed. Select it again.");
}

// A dry run over the expanded image; nothing is written.
void inspectExpanded(const SourceFile& source, const Inspection& inspection,
                     const Cancellation& cancel, const Progress& progress) {
  int64_t seen = 0;
  const StreamResult result = stream(source, cancel, [&](std::span<const uint8_t> chunk) {
    seen += static_cast<int64_t>(chunk.size());
    progress(WriteEvent{"inspecting", seen, inspection.expanded, std::nullopt});
  });
  if (result.bytes != inspection.expanded || result.sha256 != inspection.expandedSHA256)
    fail("Expanded image changed.");
}

}  // namespace

void writeAndVerify(const SourceFile& source, int destination, const Inspection& inspection,
                    int64_t blockSize, const Cancellation& cancel, const Progress& progress) {
  if (!isAcceptedBlockSize(blockSize)) fail("Unsupported device sector size.");
  const auto block = static_cast<std::size_t>(blockSize);
  recheckSource(source, inspection, cancel, progress);
  inspectExpanded(source, inspection, cancel, progress);

  if (::lseek(destination, 0, SEEK_SET) != 0) fail("Cannot seek the target.");
  BlockWriter writer(destination, block, inspection.expanded, cancel, progress);
  StreamResult written;
  try {
    written = stream(source, cancel, [&](std::span<const uint8_t> chunk) { writer.append(chunk); });
  } catch (...) {
    // The write still running ended before whatever stopped the pass: its
    // failure, its event or a stop seen after it come first.
    writer.settle();
    throw;
  }
  writer.settle();
  if (written.bytes != inspection.expanded || written.sha256 != inspection.expandedSHA256)
    fail("Source changed during writing.");
  writer.writeLastBlock();
  if (!Platform::flushDevice(destination)) fail("Could not flush the target device.");

  if (::lseek(destination, 0, SEEK_SET) != 0) fail("Cannot verify the target.");
  if (readBack(destination, inspection.expanded, block, cancel, progress) !=
      inspection.expandedSHA256)
    fail("USB verification failed. Do not use this drive to install.");
}

}  // namespace ImageIO
