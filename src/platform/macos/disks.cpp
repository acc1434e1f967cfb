#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/disk.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/platform.h"
#include "support/system_error.h"

namespace Platform {

static_assert((O_RDWR | O_NONBLOCK | O_EXLOCK | O_NOFOLLOW | O_CLOEXEC) == 0x1000126);
static_assert(DKIOCGETBLOCKSIZE == 0x40046418 && DKIOCGETBLOCKCOUNT == 0x40086419);

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

struct CFReleaser {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};

// Sole owner of one Core Foundation reference (a Create or Copy result).
template <typename Ref>
using CFHolder = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

std::string resolvedPath(const std::string& path) {
  std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
  if (!resolved) throwSystemError();
  return resolved.get();
}

// The error's own description, in UTF-8; empty when it has none.
std::string describe(CFErrorRef error) {
  const CFHolder<CFStringRef> text(CFErrorCopyDescription(error));
  if (!text) return {};
  const CFRange all = CFRangeMake(0, CFStringGetLength(text.get()));
  CFIndex size = 0;
  CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size);
  std::string out(static_cast<std::size_t>(size), '\0');
  CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, 0, false,
                   reinterpret_cast<UInt8*>(out.data()), size, &size);
  out.resize(static_cast<std::size_t>(size));
  return out;
}

[[noreturn]] void throwResourceError(CFErrorRef error) {
  const CFHolder<CFErrorRef> owned(error);
  if (error == nullptr) throwSystemError(EIO);
  // File system failures come in the POSIX domain; any other error has no
  // errno of its own and says what went wrong itself.
  if (CFEqual(CFErrorGetDomain(error), kCFErrorDomainPOSIX))
    throwSystemError(static_cast<int>(CFErrorGetCode(error)));
  const std::string description = describe(error);
  if (description.empty()) throwSystemError(EIO);
  throw std::runtime_error(description);
}

}  // namespace

std::optional<std::string> volumeOf(const std::string& path) {
  const std::string resolved = resolvedPath(path);
  // Not marked as a directory: without a trailing slash the URL names a file
  // and a directory alike.
  const CFHolder<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(resolved.data()),
      static_cast<CFIndex>(resolved.size()), false));
  if (!url) throwSystemError(ENOMEM);
  CFTypeRef value = nullptr;
  CFErrorRef error = nullptr;
  if (!CFURLCopyResourcePropertyForKey(url.get(), kCFURLVolumeURLKey, &value, &error))
    throwResourceError(error);
  const CFHolder<CFTypeRef> volume(value);
  if (!volume || CFGetTypeID(value) != CFURLGetTypeID()) return std::nullopt;
  UInt8 mountPoint[PATH_MAX];
  if (!CFURLGetFileSystemRepresentation(static_cast<CFURLRef>(value), true, mountPoint,
                                        sizeof mountPoint))
    throwSystemError(ENAMETOOLONG);
  return std::string(reinterpret_cast<const char*>(mountPoint));
}

std::optional<std::string> volumeOfOpenFile(int fd) {
  struct statfs volume{};
  if (fstatfs(fd, &volume) != 0) throwSystemError();
  return std::string(volume.f_mntonname);
}

const char* diskUtility() { return "/usr/sbin/diskutil"; }

std::vector<std::string> protectedSystemPaths() { return {"/", "/System/Volumes/Data"}; }

// devfs names the raw (character) device of every disk "r" + its name.
std::optional<std::string> rawDevicePath(const std::string& bsd) { return "/dev/r" + bsd; }

std::optional<uint64_t> registryEntryID(const std::string& bsd) {
  // The matching dictionary is consumed by the lookup, found or not.
  CFMutableDictionaryRef matching = IOBSDNameMatching(kIOMainPortDefault, 0, bsd.c_str());
  if (matching == nullptr) return std::nullopt;
  const io_service_t media = IOServiceGetMatchingService(kIOMainPortDefault, matching);
  if (media == IO_OBJECT_NULL) return std::nullopt;
  // The registry numbers every entry it creates and never reuses a number, so
  // a drive attached again under the same name comes back with another one.
  uint64_t entry = 0;
  const kern_return_t result = IORegistryEntryGetRegistryEntryID(media, &entry);
  IOObjectRelease(media);
  if (result != KERN_SUCCESS || entry == 0) return std::nullopt;
  return entry;
}

// devfs, which only the kernel fills, makes /dev/rdiskN and /dev/diskN for
// one media object, whose entry the registry finds by that name.
std::optional<uint64_t> openedDiskEntryID(int, const std::string& bsd) {
  return registryEntryID(bsd);
}

int openRawDevice(const std::string& path) {
  int fd;
  // O_EXLOCK takes the lock in the open itself; with O_NONBLOCK a lock held
  // elsewhere fails the open at once instead of waiting for it.
  do {
    fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXLOCK | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? -1 : fd;
}

bool isRawDevice(mode_t mode) { return (mode & S_IFMT) == S_IFCHR; }

bool readBlockSize(int fd, uint32_t* blockSize) {
  return ioctl(fd, DKIOCGETBLOCKSIZE, blockSize) == 0;
}

// The count is in the device's own blocks, the size readBlockSize gave.
bool readBlockCount(int fd, uint32_t, uint64_t* blockCount) {
  uint64_t count = 0;
  if (ioctl(fd, DKIOCGETBLOCKCOUNT, &count) != 0) return false;
  *blockCount = count;
  return true;
}

void prepareForTransfer(int fd) {
  // The raw device bypasses the buffer cache already, so only O_NONBLOCK goes;
  // clearing the flags of an open descriptor cannot fail, and the result is
  // not relied on.
  (void)fcntl(fd, F_SETFL, 0);
}

// The disk arbitration daemon notices a rewritten disk by itself.
void afterVerifiedWrite(int) {}

}  // namespace Platform
