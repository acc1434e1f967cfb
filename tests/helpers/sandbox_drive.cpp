#include "helpers/sandbox_drive.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>


namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) throw std::runtime_error(std::string(name) + " unset: not in the sandbox");
  return value;
}

// A file of /sys/dev/block/ for the drive's node.
std::string driveAttribute(const std::string& name) {
  struct stat node{};
  if (stat(sandboxLoop().c_str(), &node) != 0) throw std::runtime_error("no drive");
  std::ifstream in("/sys/dev/block/" + std::to_string(major(node.st_rdev)) + ":" +
                   std::to_string(minor(node.st_rdev)) + "/" + name);
  std::string value;
  in >> value;
  return value;
}

}  // namespace

std::string sandboxDisk() { return environment("SANDBOX_DISK"); }
std::string sandboxLoop() { return environment("SANDBOX_DEVICE"); }

TargetDisk sandboxTarget() {
  return {sandboxDisk(), "Sandbox USB Drive", std::filesystem::file_size(environment("SANDBOX_BACKING")),
          std::stoull(driveAttribute("diskseq")), "USB"};
}

unsigned sandboxSectorSize() {
  return static_cast<unsigned>(std::stoul(driveAttribute("queue/logical_block_size")));
}
