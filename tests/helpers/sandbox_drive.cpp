#include "helpers/sandbox_drive.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

std::string sandbox(const std::string& name) {
  const char* value = std::getenv(("SANDBOX_" + name).c_str());
  if (value == nullptr) throw std::runtime_error("SANDBOX_" + name + " unset: not in the sandbox");
  return value;
}

TargetDisk sandboxTarget() {
  const std::string disk = sandbox("DISK");
  return {disk, "Sandbox USB Drive", std::filesystem::file_size(sandbox("BACKING")),
          std::stoull(disk.substr(4)), "USB"};
}
