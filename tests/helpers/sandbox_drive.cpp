#include "helpers/sandbox_drive.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "helpers/temp_dir.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) throw std::runtime_error(std::string(name) + " unset: not in the sandbox");
  return value;
}

// A file of /sys/dev/block/ for the drive's node.
std::string driveAttribute(const std::string& name) {
  struct stat node{};
  if (stat(("/dev/" + sandboxDisk()).c_str(), &node) != 0) throw std::runtime_error("no drive");
  std::ifstream in("/sys/dev/block/" + std::to_string(major(node.st_rdev)) + ":" +
                   std::to_string(minor(node.st_rdev)) + "/" + name);
  std::string value;
  in >> value;
  return value;
}

}  // namespace

std::string sandboxDisk() { return environment("SANDBOX_DISK"); }
std::string sandboxLoop() { return environment("SANDBOX_DEVICE"); }
std::string sandboxBacking() { return environment("SANDBOX_BACKING"); }

TargetDisk sandboxTarget() {
  return {sandboxDisk(), "Sandbox USB Drive", std::filesystem::file_size(sandboxBacking()),
          std::stoull(driveAttribute("diskseq")), "USB"};
}

unsigned sandboxSectorSize() {
  return static_cast<unsigned>(std::stoul(driveAttribute("queue/logical_block_size")));
}

void replugSandboxDrive() {
  // The device stays attached until whoever still has it open (udev probing
  // after a write, say) lets go: the attach is tried again until then.
  shell("losetup -d " + sandboxLoop() + "; for try in $(seq 100); do losetup --sector-size " +
        std::to_string(sandboxSectorSize()) + " " + sandboxLoop() + " " + sandboxBacking() +
        " 2>/dev/null && exit; sleep 0.05; done; exit 1");
}

nlohmann::json standInState() {
  return nlohmann::json::parse(readFile(environment("SANDBOX_STATE")));
}

void setStandInState(const nlohmann::json& state) {
  writeFile(environment("SANDBOX_STATE"), state.dump());
}

DevNode::DevNode(const std::string& name, const Node& node) : path_("/dev/" + name) {
  saved_ = rename(path_.c_str(), (path_ + ".saved").c_str()) == 0;
  const char* path = path_.c_str();
  const bool made = node.type == 0 ||
                    (node.type == S_IFLNK ? symlink(node.target.c_str(), path)
                                          : mknod(path, node.type | 0600, node.device)) == 0;
  if (!made) throw std::runtime_error("cannot make " + path_);
}

DevNode::~DevNode() {
  unlink(path_.c_str());
  if (saved_) rename((path_ + ".saved").c_str(), path_.c_str());
}
