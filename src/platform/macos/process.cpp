#include <crt_externs.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/system_error.h"

namespace Platform {

namespace {

void check(int err) {
  if (err != 0) throwSystemError(err);
}

}  // namespace

std::pair<UniqueFd, UniqueFd> makePipe() {
  int ends[2];
  if (pipe(ends) != 0) throwSystemError();
  std::pair<UniqueFd, UniqueFd> owned{UniqueFd(ends[0]), UniqueFd(ends[1])};
  // There is no pipe2 here; a child spawned before the flags are set still
  // gets neither end, as every spawn closes all but 0 to 2.
  for (const int fd : ends)
    if (fcntl(fd, F_SETFD, FD_CLOEXEC) == -1) throwSystemError();
  return owned;
}

void inheritOnlyStandardDescriptors(posix_spawnattr_t& attributes,
                                    posix_spawn_file_actions_t& actions) {
  // Every descriptor without a file action is closed in the child, which
  // also covers any the process inherited without close-on-exec.
  short flags = 0;
  check(posix_spawnattr_getflags(&attributes, &flags));
  check(posix_spawnattr_setflags(&attributes,
                                 static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT)));
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    check(posix_spawn_file_actions_addinherit_np(&actions, fd));
}

void startWithoutEnvironment() {
  // Core Foundation and the C library read variables through this pointer.
  static char* none[] = {nullptr};
  *_NSGetEnviron() = none;
}

// macOS does not enforce resource limits on a process's data or address
// space, so nothing bounds what a decoder asks for; see the README.
void boundMemory() {}

}  // namespace Platform
