#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/system_error.h"

namespace Platform {

std::pair<UniqueFd, UniqueFd> makePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throwSystemError();
  return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

void inheritOnlyStandardDescriptors(posix_spawnattr_t&, posix_spawn_file_actions_t& actions) {
  // Close-on-exec is the rule for our own descriptors; this also covers any
  // the process inherited from whoever started it without that flag.
  const int err = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (err != 0) throwSystemError(err);
}

}  // namespace Platform
