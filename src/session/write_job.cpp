#include <unistd.h>

#include <string>
#include <vector>

#include "disks/command.h"
#include "disks/disk_inventory.h"
#include "imageio/image_io.h"
#include "imageio/source_file.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "session/writer_main.h"
#include "support/user_account.h"

namespace {

constexpr double kUnmountTimeout = 30.0;

// The home directory of the request's user: a protected path, so an account
// without one cannot go on.
std::string homeOf(uint32_t uid) {
  const auto home = homeDirectoryOf(uid);
  if (!home) throw ImagerError::message("Unknown user.");
  if (home->empty() || home->front() != '/')
    throw ImagerError::message("The user account has no home folder.");
  return *home;
}

// The image's volume comes from its open descriptor: its path may lead
// elsewhere by now.
void requireListed(const TargetDisk& target, const std::string& home, const SourceFile& source) {
  for (const TargetDisk& disk : DiskInventory::list({home}, source.fd()))
    if (disk == target) return;
  throw ImagerError::message(
      "The selected drive changed, is protected or was disconnected. Select it again.");
}

// The device is flushed before it is closed, whatever ended the job.
class FlushedDevice {
 public:
  explicit FlushedDevice(UniqueFd fd) : fd_(std::move(fd)) {}
  ~FlushedDevice() { (void)Platform::flushDevice(fd_.get()); }
  int get() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

// The block size of a device that holds the whole image rounded up to whole
// blocks; throws otherwise. `expanded` is bounded by validation, so the
// rounding cannot overflow.
uint32_t blockSizeFor(int device, int64_t expanded) {
  uint32_t blockSize = 0;
  uint64_t deviceBytes = 0;
  const bool known = ori_geometry(device, &blockSize, &deviceBytes) == 1;
  const auto image = static_cast<uint64_t>(expanded);
  if (!known || deviceBytes < image || blockSize == 0 ||
      deviceBytes < (image + blockSize - 1) / blockSize * blockSize)
    throw ImagerError::message("The drive is too small or its geometry is unknown.");
  return blockSize;
}

}  // namespace

namespace WriterMain {

void perform(const WriteRequest& request, Cancellation& cancellation, const Progress& progress) {
  const std::string home = homeOf(request.uid);
  const SourceFile source(request.source, request.uid, false);
  requireListed(request.target, home, source);

  const int64_t size = source.size();
  const std::string digest = ImageIO::hashFile(source, cancellation, [&](int64_t hashed) {
    progress({"checking", hashed, size, std::nullopt});
  });
  if (digest != request.inspection.sha256 || size != request.inspection.bytes)
    throw ImagerError::message("The source changed after confirmation.");
  progress({"checking", size, size, std::nullopt});

  // The last moment before the disk is changed.
  cancellation.check();
  Command::run(Platform::diskUtility(), {"unmountDisk", "/dev/" + request.target.bsd}, kUnmountTimeout,
               kDiskQueryBytes);
  requireListed(request.target, home, source);

  const FlushedDevice device(DiskInventory::openFinal(request.target));
  const uint32_t blockSize = blockSizeFor(device.get(), request.inspection.expanded);
  requireListed(request.target, home, source);

  ImageIO::writeAndVerify(source, device.get(), request.inspection, blockSize, cancellation,
                          progress);
  Platform::afterVerifiedWrite(device.get());
}

}  // namespace WriterMain
