#include "helpers/sysfs_tree.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "helpers/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void link(const std::string& target, const std::string& at) {
  fs::create_directories(fs::path(at).parent_path());
  if (symlink(target.c_str(), at.c_str()) != 0) throw std::runtime_error("cannot link " + at);
}

void attribute(const std::string& dir, const std::string& name, const std::string& value) {
  fs::create_directories(dir);
  writeFile(dir + "/" + name, value + "\n");
}

}  // namespace

void SysfsTree::registerBlock(const std::string& name, const std::string& dir,
                              const std::string& dev) {
  blockDirs_[name] = dir;
  attribute(dir, "dev", dev);
  fs::create_directories(dir + "/holders");
  fs::create_directories(dir + "/slaves");
  link(dir, root_ + "/class/block/" + name);
  link(dir, root_ + "/dev/block/" + dev);
}

void SysfsTree::disk(const std::vector<Step>& chain, const std::string& name,
                     const std::string& dev, uint64_t bytes, uint64_t sequence,
                     std::map<std::string, std::string> extra) {
  std::string at = root_ + "/devices";
  if (chain.empty()) at += "/virtual";
  for (const Step& step : chain) {
    at += "/" + step.name;
    fs::create_directories(at);
    if (!step.subsystem.empty() && !fs::is_symlink(at + "/subsystem")) {
      fs::create_directories(root_ + "/bus/" + step.subsystem);
      link(root_ + "/bus/" + step.subsystem, at + "/subsystem");
    }
    for (const auto& [key, value] : step.attributes) attribute(at, key, value);
  }
  const std::string device = at;
  const std::string dir = at + "/block/" + name;
  registerBlock(name, dir, dev);
  if (!chain.empty()) link(device, dir + "/device");
  extra.try_emplace("ro", "0");
  extra.try_emplace("hidden", "0");
  extra["size"] = std::to_string(bytes / 512);
  extra["diskseq"] = std::to_string(sequence);
  for (const auto& [key, value] : extra) attribute(dir, key, value);
}

void SysfsTree::partition(const std::string& disk, const std::string& name, unsigned number,
                          const std::string& dev) {
  const std::string dir = blockDirs_.at(disk) + "/" + name;
  registerBlock(name, dir, dev);
  attribute(dir, "partition", std::to_string(number));
}

void SysfsTree::holds(const std::string& holder, const std::string& slave) {
  link(blockDirs_.at(holder), blockDirs_.at(slave) + "/holders/" + holder);
  link(blockDirs_.at(slave), blockDirs_.at(holder) + "/slaves/" + slave);
}

void SysfsTree::btrfs(const std::string& fsid, const std::vector<std::string>& members) {
  for (const std::string& member : members)
    link(blockDirs_.at(member), root_ + "/fs/btrfs/" + fsid + "/devices/" + member);
}

void SysfsTree::backingFile(const std::string& loop, const std::string& file) {
  attribute(blockDirs_.at(loop) + "/loop", "backing_file", file);
}
