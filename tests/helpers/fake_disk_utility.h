#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "helpers/temp_dir.h"

// The stand-in disk utility (tests/fake_diskutil) set up for one test: a
// temporary directory holding its description, a wrapper script that runs
// it with that description, and its call log. Pass `path()` wherever the
// disk utility's path goes.
class FakeDiskUtility {
 public:
  // `description` in the format the script documents; "log" is filled in.
  explicit FakeDiskUtility(nlohmann::json description = nlohmann::json::object());

  // Replaces the description (the log stays).
  void describe(nlohmann::json description);
  nlohmann::json& description() { return description_; }
  // Writes `description()` again after changing it in place.
  void save();

  const std::string& path() const { return wrapper_; }
  const std::string& directory() const { return dir_.path(); }

  // Every call so far, oldest first: {"argv": [...], "fds": {...}}.
  std::vector<nlohmann::json> calls() const;
  // The arguments of every call joined by blanks, oldest first.
  std::vector<std::string> commandLines() const;

 private:
  TempDir dir_;
  std::string wrapper_;
  nlohmann::json description_;
};
