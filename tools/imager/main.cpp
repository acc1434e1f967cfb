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
#include "drive_table.h"
#include "image_check.h"
#include "inspect.h"
#include "interrupts.h"
#include "job_summary.h"
#include "plain_text.h"
#include "refusal.h"
#include "session_user.h"
#include "sizes.h"
#include "support/standard_descriptors.h"
#include "write_command.h"

namespace {

constexpr const char* kVersion = "imager 1.0 (write requests of version 1)\n";

constexpr const char* kUsage =
    "usage: imager write [--yes] [--sha256 HEX] [--user NAME] [--writer PATH] [--events]\n"
    "                    IMAGE DRIVE...\n"
    "       imager list [--json]\n"
    "       imager inspect [--json] [--user NAME] IMAGE\n"
    "       imager --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Writes an operating-system image (raw, or packed with gzip, xz or zip) onto\n"
    "USB drives and SD cards, then reads it back and verifies it.\n"
    "\n"
    "  write    checks the image and the drives, asks before erasing them, then\n"
    "           writes the image to every DRIVE at once and verifies each.\n"
    "           DRIVE is a name from `imager list`: disk4, /dev/disk4 or rdisk4,\n"
    "           or a device such as sdb or /dev/sdb.\n"
    "           --yes         erase without asking (needed without a terminal)\n"
    "           --sha256 HEX  the image's expected SHA-256 (default: the first\n"
    "                         word of IMAGE.sha256, when there is one)\n"
    "           --user NAME   the user the write is for, when run as root\n"
    "           --events      print the writer's event lines (for programs)\n"
    "  list     the drives that may be written (--json: one object per line)\n"
    "  inspect  an image's sizes and digests (--json for programs)\n"
    "\n"
    "Examples:\n"
    "  imager list\n"
    "  imager write ~/Downloads/os.img.xz disk4\n"
    "  imager write --yes os.img disk4 disk5\n"
    "  imager inspect os.img.gz\n"
    "\n"
    "Exit status: 0 every drive written and verified, 1 not confirmed or no\n"
    "administrator rights, 2 usage, 3 the image cannot be written, 4 a drive\n"
    "that does not exist or may not be written, 5 writing failed, 6 verification\n"
    "failed, 130 interrupted.\n";

int usage() {
  std::fputs(kUsage, stderr);
  std::fputs("Run `imager --help` for more.\n", stderr);
  return static_cast<int>(ExitCode::usage);
}

// The writer that was built next to this program.
std::string defaultWriter(const char* self) {
  const std::string path = self;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "writer" : path.substr(0, slash + 1) + "writer";
}

int inspect(const std::optional<std::string>& user, const std::string& image, bool json) {
  const uid_t owner = sessionUser(user).uid;
  const ImageFacts facts = checkImage(image, owner);
  const Inspection inspection = inspectImage(facts.path, owner, [](const char*, int64_t, int64_t) {});
  if (json) {
    std::printf("%s\n", nlohmann::json(inspection).dump(2).c_str());
    return 0;
  }
  std::printf("Image     %s\n", plainText(image).c_str());
  std::printf("Format    %s\n", facts.packing.empty() ? "raw" : facts.packing.c_str());
  std::printf("Stored    %s (%s bytes)  SHA-256 %s\n", sizeText(inspection.bytes).c_str(),
              exactCount(inspection.bytes).c_str(), inspection.sha256.c_str());
  std::printf("Expanded  %s (%s bytes)  SHA-256 %s\n", sizeText(inspection.expanded).c_str(),
              exactCount(inspection.expanded).c_str(), inspection.expandedSHA256.c_str());
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
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help")
    return std::fputs(kUsage, stdout), std::fputs(kHelp, stdout), 0;
  if (args[0] == "--version") return std::fputs(kVersion, stdout), 0;
  WriteOptions options;
  options.writer = defaultWriter(self);
  std::vector<std::string> operands;
  bool json = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--user" && hasValue) options.user = args[++i];
    else if (args[i] == "--writer" && hasValue) options.writer = args[++i];
    else if (args[i] == "--sha256" && hasValue) options.sha256 = args[++i];
    else if (args[i] == "--events") options.events = true;
    else if (args[i] == "--yes" || args[i] == "-y") options.yes = true;
    else if (args[i] == "--json") json = true;
    else if (args[i].starts_with("-")) return usage();
    else operands.push_back(args[i]);
  }
  const std::string& command = args[0];
  if (command == "inspect" && operands.size() == 1) return inspect(options.user, operands[0], json);
  if (command == "list" && operands.empty()) return list(json);
  if (command == "write" && operands.size() >= 2) {
    options.image = operands[0];
    options.drives.assign(operands.begin() + 1, operands.end());
    return writeImage(options);
  }
  return usage();
}

int interruptedBeforeWriting() {
  std::fputs("imager: Interrupted: nothing was written.\n", stderr);
  return static_cast<int>(ExitCode::interrupted);
}

}  // namespace

int main(int argc, char** argv) {
  // The disk utility runner hands 0 to 2 to its child by name.
  reserveStandardDescriptors();
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc), argv[0]);
  } catch (const Refusal& refusal) {
    if (interrupted() && refusal.code() != ExitCode::interrupted) return interruptedBeforeWriting();
    std::fprintf(stderr, "imager: %s\n", refusal.what());
    if (!refusal.detail().empty()) std::fprintf(stderr, "(%s)\n", plainText(refusal.detail()).c_str());
    if (const std::string hint = hintFor(refusal.what()); !hint.empty())
      std::fprintf(stderr, "%s\n", hint.c_str());
    return static_cast<int>(refusal.code());
  } catch (const std::exception& error) {
    // Ctrl-C also ends the disk utility, whose failure is then no news.
    if (interrupted()) return interruptedBeforeWriting();
    std::fprintf(stderr, "imager: %s\n", plainText(messageFor(error.what())).c_str());
    if (const std::string hint = hintFor(error.what()); !hint.empty())
      std::fprintf(stderr, "%s\n", hint.c_str());
    return 1;
  }
}
