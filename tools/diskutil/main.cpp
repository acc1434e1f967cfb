// The disk utility of the writer on Linux: answers its three questions from
// the kernel. Run by the writer as root with a fixed environment, and by the
// imager as the user to list the drives.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "disk_utility.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    const DiskUtility utility(KernelView::system());
    std::string out;
    if (args == std::vector<std::string>{"list", "-plist", "external", "physical"})
      out = utility.listExternalPhysical();
    else if (args.size() == 3 && args[0] == "info" && args[1] == "-plist")
      out = utility.info(args[2]);
    else if (args.size() == 2 && args[0] == "unmountDisk")
      out = utility.unmountDisk(args[1]);
    else
      throw DiskUtility::Failure(
          "usage: diskutil list -plist external physical | info -plist DISK-OR-PATH | "
          "unmountDisk DISK");
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
