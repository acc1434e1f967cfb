#include "kernel_view.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "support/system_error.h"

namespace {

std::string readProc(const char* path) {
  std::ifstream in(path);
  if (!in) throwSystemError();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

KernelView KernelView::system() {
  KernelView view;
  view.mountInfo = readProc("/proc/self/mountinfo");
  view.swaps = readProc("/proc/swaps");
  view.mountIdOf = [](const std::string& path) -> std::optional<uint64_t> {
    struct statx status{};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &status) != 0 ||
        !(status.stx_mask & STATX_MNT_ID))
      return std::nullopt;
    return status.stx_mnt_id;
  };
  view.nodeDevice = [](const std::string& path) -> std::optional<dev_t> {
    struct stat status{};
    if (stat(path.c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) return std::nullopt;
    return status.st_rdev;
  };
  return view;
}
