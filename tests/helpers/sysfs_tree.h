#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A sysfs laid out under a directory as the kernel lays out /sys, for the
// disk utility's tests. Links are absolute, into the directory itself.
class SysfsTree {
 public:
  explicit SysfsTree(std::string root) : root_(std::move(root)) {}

  // One device on the way to a disk: its directory name, its subsystem
  // (empty: none) and attributes.
  struct Step {
    std::string name;
    std::string subsystem;
    std::map<std::string, std::string> attributes;
  };

  // A whole disk at the end of `chain` (an empty chain: a virtual disk with no
  // device), with its "dev", size in bytes, diskseq and other attributes
  // ("ro", "hidden"; both 0 unless given).
  void disk(const std::vector<Step>& chain, const std::string& name, const std::string& dev,
            uint64_t bytes, uint64_t sequence, std::map<std::string, std::string> extra = {});
  void partition(const std::string& disk, const std::string& name, unsigned number,
                 const std::string& dev);
  // `holder` (a dm or md disk) is built on `slave`.
  void holds(const std::string& holder, const std::string& slave);
  void btrfs(const std::string& fsid, const std::vector<std::string>& members);
  void backingFile(const std::string& loop, const std::string& file);

 private:
  void registerBlock(const std::string& name, const std::string& dir, const std::string& dev);
  std::string root_;
  std::map<std::string, std::string> blockDirs_;
};
