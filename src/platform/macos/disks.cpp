#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOBSD.h>
#include <IOKit/IOKitLib.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/disk.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/types.h>
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

namespace {

// The media object the registry has under the BSD name `bsd`; released by
// the caller. IO_OBJECT_NULL when there is none.
io_service_t mediaNamed(const std::string& bsd) {
  // The matching dictionary is consumed by the lookup, found or not.
  CFMutableDictionaryRef matching = IOBSDNameMatching(kIOMainPortDefault, 0, bsd.c_str());
  if (matching == nullptr) return IO_OBJECT_NULL;
  return IOServiceGetMatchingService(kIOMainPortDefault, matching);
}

std::optional<uint64_t> entryID(io_service_t media) {
  // The registry numbers every entry it creates and never reuses a number, so
  // a drive attached again under the same name comes back with another one.
  uint64_t entry = 0;
  if (IORegistryEntryGetRegistryEntryID(media, &entry) != KERN_SUCCESS || entry == 0)
    return std::nullopt;
  return entry;
}

std::optional<int> integerProperty(io_service_t media, CFStringRef key) {
  const CFHolder<CFTypeRef> value(
      IORegistryEntryCreateCFProperty(media, key, kCFAllocatorDefault, 0));
  int number = 0;
  if (!value || CFGetTypeID(value.get()) != CFNumberGetTypeID() ||
      !CFNumberGetValue(static_cast<CFNumberRef>(value.get()), kCFNumberIntType, &number))
    return std::nullopt;
  return number;
}

}  // namespace

std::optional<uint64_t> registryEntryID(const std::string& bsd) {
  const io_service_t media = mediaNamed(bsd);
  if (media == IO_OBJECT_NULL) return std::nullopt;
  const auto entry = entryID(media);
  IOObjectRelease(media);
  return entry;
}

// The media object keeps the device numbers of the nodes devfs made for it;
// /dev/rdiskN and /dev/diskN share them.
std::optional<uint64_t> openedDiskEntryID(int fd, const std::string& bsd) {
  struct stat opened{};
  if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode)) return std::nullopt;
  const io_service_t media = mediaNamed(bsd);
  if (media == IO_OBJECT_NULL) return std::nullopt;
  const auto major = integerProperty(media, CFSTR(kIOBSDMajorKey));
  const auto minor = integerProperty(media, CFSTR(kIOBSDMinorKey));
  std::optional<uint64_t> entry;
  if (major && minor && makedev(*major, *minor) == opened.st_rdev) entry = entryID(media);
  IOObjectRelease(media);
  return entry;
}

int openRawDevice(const std::string& path) {
  int fd;
  // O_EXLOCK takes the lock in the open itself; with O_NONBLOCK a lock held
  // elsewhere fails the open at once instead of waiting for it. errno tells a
  // held lock (EAGAIN), a busy disk (EBUSY), a write-protected card (EROFS,
  // EACCES) and a vanished disk (ENOENT, ENXIO) apart.
  do {
    fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXLOCK | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
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
  // The raw device bypasses the buffer cache already, so only O_NONBLOCK goes.
  // On a disk F_SETFL reports ENOTTY: the kernel clears the flag and only then
  // passes it to the driver, which takes no FIONBIO. So the flag itself is
  // what is checked.
  const int refused = fcntl(fd, F_SETFL, 0) != 0 ? errno : 0;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) throwSystemError();
  if ((flags & O_NONBLOCK) != 0) throwSystemError(refused != 0 ? refused : EINVAL);
}

// The disk arbitration daemon notices a rewritten disk by itself.
void afterVerifiedWrite(int) {}

}  // namespace Platform
