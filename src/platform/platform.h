#pragma once

// The seam between the writer and the operating system. Every other file is
// portable; each function here has one implementation per system, in
// platform/linux and platform/macos, and CMake builds exactly one of them.
// Unless a contract says otherwise, a function that fails throws
// std::system_error with the system's own text.

#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/unique_fd.h"

namespace Platform {

// ---- Descriptors ----------------------------------------------------------

// A pipe (read end, write end) with both ends close-on-exec.
std::pair<UniqueFd, UniqueFd> makePipe();

// Makes a child started with `attributes` and `actions` inherit no
// descriptor above 2, whatever its close-on-exec flag says. Call it last:
// after the actions that place the child's standard descriptors and after the
// attributes' flags are set, as it may add a flag of its own.
void inheritOnlyStandardDescriptors(posix_spawnattr_t& attributes,
                                    posix_spawn_file_actions_t& actions);

// Tells the system that `fd` will be read once from start to end. Advice
// only: never fails.
void adviseSequential(int fd);

// ---- Digests, property lists and the drive's cache -----------------------
// Served by the system's own libraries where it has them; no caller knows
// which library that is.

// Incremental SHA-256. A failure of the hash throws.
class Sha256Hasher {
 public:
  virtual ~Sha256Hasher() = default;
  virtual void update(const void* bytes, std::size_t length) = 0;
  // Ends the hash; the object is not used afterwards.
  virtual std::array<uint8_t, 32> finish() = 0;
};
std::unique_ptr<Sha256Hasher> startSha256();

// A property-list value copied out of the system's parser. Dates, data and
// anything else without a field here are Other.
struct PlistNode {
  enum class Type { Other, String, Boolean, Integer, Real, Array, Dictionary };
  Type type = Type::Other;
  std::string text;                  // String
  bool flag = false;                 // Boolean
  uint64_t integer = 0;              // Integer, a negative one as its 64-bit pattern
  double real = 0;                   // Real
  std::vector<PlistNode> elements;   // Array elements; Dictionary values
  std::vector<std::string> keys;     // Dictionary keys, one per element
};

// Parses property-list bytes that the caller has bounded in shape: binary
// when they start with "bplist00", XML otherwise. Nothing when they are not a
// property list in that format.
std::optional<PlistNode> parsePropertyList(std::string_view bytes);

// Makes the drive behind the device descriptor `fd` hold everything written
// to it, its own write cache included. False, with errno set, when it cannot.
bool flushDevice(int fd);

// ---- Channel sockets ------------------------------------------------------

// A new close-on-exec AF_UNIX stream socket; -1 on failure (errno set).
// Together with sendFlags() on every send, a lost peer never raises a signal.
int unixStreamSocket();

// Fills `address` for `path`, which the caller has checked to be at most 103
// bytes, and returns the length to pass to bind and connect.
socklen_t unixAddress(const char* path, sockaddr_un& address);

// Connects the fresh socket `fd` to the listener at `path` without waiting
// (a listener whose backlog is full fails at once) and without following a
// symbolic link anywhere on the way: every directory on the path must be a
// real directory and the last component a real socket. The socket is left
// blocking. False when it cannot connect at once; errno is then not kept.
// Where the system has no other way to connect relative to a checked
// directory, the working directory is moved there for the connect and left
// at "/": call it only while the process has one thread.
bool connectWithoutLinks(int fd, const char* path);

// Flags for every send on the channel.
int sendFlags();

// Makes a socket this process did not create with unixStreamSocket (one that
// accept returned) as safe as one it did: together with sendFlags(), a lost
// peer never raises a signal. Never fails the caller.
void keepLostPeerQuiet(int fd);

// The effective uid of the process at the other end of a connected Unix
// socket; nothing when the system cannot tell.
std::optional<uint32_t> peerUid(int fd);

// ---- Files ----------------------------------------------------------------

enum class CheckedOpen { opened, cannotOpen, refused };

// Opens `path` for reading (close-on-exec, never as a controlling terminal,
// reads blocking) only once `accept` has approved the status of what it
// names, taken without opening it: a device or FIFO that `accept` turns down
// is never opened. A symbolic link anywhere on the path, or a path that
// cannot be reached or opened, is cannotOpen; a status `accept` turns down, or an opened file that
// is not the approved one (device and inode), is refused.
CheckedOpen openCheckedForReading(const std::string& path,
                                  const std::function<bool(const struct stat&)>& accept,
                                  UniqueFd& fd);

// True when the volume holding the open file `fd` ignores ownership, as FAT
// and exFAT volumes do on macOS: its files show root an owner of 99 and every
// user may read them. False where the system has no such volumes, or cannot
// tell.
bool ownershipIgnored(int fd);

// ---- Process --------------------------------------------------------------

// Empties the environment and sets up the system libraries the writer uses
// without their reading any configuration: nothing the starter names is
// loaded into the process. Call it first thing in main. Never fails.
void startWithoutEnvironment();

// Bounds the memory the process may take, so that a decoder asking for
// gigabytes fails instead of growing the process; ordinary images stay well
// within it. Where the system enforces no such bound, nothing. Call it first
// thing in main, before any thread starts.
void boundMemory();

// ---- Session --------------------------------------------------------------

// Keeps the machine from idle sleep; returns an identifier for the release,
// 0 when nothing was taken. Never fails the caller.
uint32_t preventIdleSleep();
void allowIdleSleep(uint32_t assertion);

// A handler run first at once and then every `period` on a thread of its own
// until cancelled. It never keeps the process from exiting. Destroying the
// timer cancels it.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
  // Stops further firings. A firing already running completes first unless
  // cancel is called from the handler itself; after that the handler never
  // runs again.
  virtual void cancel() = 0;
};
std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::chrono::milliseconds period,
                                                    std::function<void()> handler);

// ---- Disks ----------------------------------------------------------------

// The mount point of the volume that holds `path`, after resolving symbolic
// links; nothing when no mounted volume holds it. Throws when the path cannot
// be resolved.
std::optional<std::string> volumeOf(const std::string& path);

// The disk utility the writer asks about disks: the system's own on macOS,
// this project's on Linux, at a root-owned path fixed when it was built.
const char* diskUtility();

// The paths whose disks are never written, besides the user's home and the
// image: the system's own volumes, those of them that exist.
std::vector<std::string> protectedSystemPaths();

// The raw device node of the whole disk `bsd`; nothing when no whole disk of
// that name is attached. The caller has checked the name's form. Never
// throws.
std::optional<std::string> rawDevicePath(const std::string& bsd);

// The mount point of the volume that holds the file open on `fd`, taken
// from the descriptor itself; nothing when no mounted volume holds it.
// Throws when the system cannot tell.
std::optional<std::string> volumeOfOpenFile(int fd);

// An identifier of the attached device behind the whole disk `bsd` that
// changes whenever another device appears under that name; nothing when there
// is none or it is 0. The caller has checked the name's form. Never throws.
std::optional<uint64_t> registryEntryID(const std::string& bsd);

// The registry identity of the disk open on `fd`, provided it is the very
// whole disk `bsd` names (a device, not one of its partitions); nothing
// otherwise. The caller has checked the name's form. Never throws.
std::optional<uint64_t> openedDiskEntryID(int fd, const std::string& bsd);

// Opens the raw device node `path` for reading and writing, exclusively
// locked, without following a final symbolic link, close-on-exec and
// non-blocking. -1 when it cannot be opened or locked, with errno saying why.
int openRawDevice(const std::string& path);

// True for the file type of a raw device node.
bool isRawDevice(mode_t mode);

// The logical block size of a device, read straight into `blockSize`; false
// when the system cannot tell.
bool readBlockSize(int fd, uint32_t* blockSize);

// The number of `blockSize` blocks of a device; false when unknown.
bool readBlockCount(int fd, uint32_t blockSize, uint64_t* blockCount);

// Puts an exclusively opened device into blocking mode for the transfer, with
// reads that reach the medium rather than a cache (on Linux: O_DIRECT, so
// every buffer that meets the device must be aligned to 4096 bytes). Throws
// when the mode cannot be set.
void prepareForTransfer(int fd);

// After a write read back and found whole: lets the system see what the
// device holds now (its new partitions). Never fails the caller.
void afterVerifiedWrite(int fd);

}  // namespace Platform
