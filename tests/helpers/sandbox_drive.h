#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

#include "records/target_disk.h"

// For tests that run inside scripts/sandbox (tests/CMakeLists.txt starts
// them there): its drive is /dev/diskN and /dev/rdiskN over a loop device,
// and the stand-in disk utility at the utility's fixed path describes it as
// an external USB drive. Everything throws std::runtime_error outside.

// "diskN".
std::string sandboxDisk();
// The loop device ("/dev/loopN") and its backing file, which a test may
// write behind the device's back.
std::string sandboxLoop();
std::string sandboxBacking();
// The drive as the inventory describes it now: a re-attached drive comes
// back with another registry identity.
TargetDisk sandboxTarget();
// The drive's logical block size.
unsigned sandboxSectorSize();
// Detaches the drive and attaches its backing file again under the same
// name, as if it had been unplugged and plugged in again.
void replugSandboxDrive();

// The stand-in's description, which the tests may replace.
nlohmann::json standInState();
void setStandInState(const nlohmann::json& state);

// What to put at a path: a device node ({S_IFBLK or S_IFCHR, device}), a
// symbolic link ({S_IFLNK, 0, target}), an empty file ({S_IFREG}), or
// nothing ({0}).
struct Node {
  Node(mode_t t = 0, dev_t d = 0, std::string to = "")
      : type(t), device(d), target(std::move(to)) {}
  mode_t type;
  dev_t device;
  std::string target;
};

// Puts `node` at /dev/NAME in place of what was there until the object goes.
class DevNode {
 public:
  DevNode(const std::string& name, const Node& node);
  ~DevNode();
  DevNode(const DevNode&) = delete;
  DevNode& operator=(const DevNode&) = delete;

 private:
  std::string path_;
  bool saved_ = false;
};
