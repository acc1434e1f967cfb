#include "helpers/sandbox_drive.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) throw std::runtime_error(std::string(name) + " unset: not in the sandbox");
  return value;
}

}  // namespace

std::string sandboxDisk() { return environment("SANDBOX_DISK"); }
std::string sandboxLoop() { return environment("SANDBOX_DEVICE"); }
std::string sandboxSecondLoop() { return environment("SANDBOX_DEVICE2"); }

TargetDisk sandboxTarget() {
  const std::string disk = sandboxDisk();
  return {disk, "Sandbox USB Drive", std::filesystem::file_size(environment("SANDBOX_BACKING")),
          std::stoull(disk.substr(4)), "USB"};
}

unsigned sandboxSectorSize() {
  return static_cast<unsigned>(std::stoul(environment("SANDBOX_SECTOR_SIZE")));
}
