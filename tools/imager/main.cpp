// imager: the unprivileged half of the tool, for people and tests. It
// measures images, lists the drives the writer would accept, and runs a
// write through the writer with progress on the terminal.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "disks/disk_inventory.h"
#include "drive_name.h"
#include "drive_table.h"
#include "inspect.h"
#include "job_summary.h"
#include "plain_text.h"
#include "session_user.h"
#include "support/standard_descriptors.h"
#include "write_command.h"

namespace {

constexpr const char* kUsage =
    "usage: imager inspect [--user NAME] IMAGE\n"
    "       imager list [--json]\n"
    "       imager write [--user NAME] [--writer PATH] [--events] IMAGE DRIVE\n"
    "DRIVE is a name from imager list (disk42), or a device (sdb, /dev/sdb).\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// The writer that was built next to this program.
std::string defaultWriter(const char* self) {
  const std::string path = self;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "writer" : path.substr(0, slash + 1) + "writer";
}

int inspect(const std::optional<std::string>& user, const std::string& image) {
  const Inspection inspection =
      inspectImage(image, sessionUser(user).uid, [](const char*, int64_t, int64_t) {});
  std::printf("%s\n", nlohmann::json(inspection).dump(2).c_str());
  return 0;
}

// A table for people; for programs, one JSON object per line.
int list(bool json) {
  const std::vector<TargetDisk> disks = DiskInventory::list({});
  if (!json) {
    std::fputs(driveTable(disks).c_str(), stdout);
    return 0;
  }
  for (const TargetDisk& disk : disks) std::printf("%s\n", nlohmann::json(disk).dump().c_str());
  return 0;
}

int run(const std::vector<std::string>& args, const char* self) {
  if (args.empty()) return usage();
  WriteOptions options;
  options.writer = defaultWriter(self);
  std::vector<std::string> operands;
  bool json = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--user" && hasValue) options.user = args[++i];
    else if (args[i] == "--writer" && hasValue) options.writer = args[++i];
    else if (args[i] == "--events") options.events = true;
    else if (args[i] == "--json") json = true;
    else if (args[i].starts_with("--")) return usage();
    else operands.push_back(args[i]);
  }
  const std::string& command = args[0];
  if (command == "inspect" && operands.size() == 1) return inspect(options.user, operands[0]);
  if (command == "list" && operands.empty()) return list(json);
  if (command == "write" && operands.size() == 2) {
    options.image = operands[0];
    options.drive = wholeDiskName(operands[1]);
    return writeImage(options);
  }
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  // The disk utility runner hands 0 to 2 to its child by name.
  reserveStandardDescriptors();
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc), argv[0]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "imager: %s\n", plainText(error.what()).c_str());
    if (const std::string hint = hintFor(error.what()); !hint.empty())
      std::fprintf(stderr, "%s\n", hint.c_str());
    return 1;
  }
}
