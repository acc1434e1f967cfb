#include "confirmation.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "interrupts.h"
#include "plain_text.h"
#include "refusal.h"
#include "sizes.h"

extern char** environ;

namespace {

[[noreturn]] void refuseInterrupted() {
  throw Refusal(ExitCode::interrupted, "Interrupted: nothing was written.");
}

// sudo's status: it asks on the terminal when there is one, and otherwise
// may only use rights already granted.
int runSudoValidate(bool terminal) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!terminal) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* args[] = {"sudo", terminal ? "-v" : "-nv", nullptr};
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, "sudo", &actions, nullptr, const_cast<char**>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string answer() {
  std::string line;
  char c;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (interrupted()) refuseInterrupted();
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') return line;
    line += c;
  }
}

}  // namespace

void ensureAdminRights() {
  if (geteuid() == 0) return;
  const int status = runSudoValidate(isatty(STDIN_FILENO));
  if (interrupted()) refuseInterrupted();
  if (status != 0) throw Refusal(ExitCode::failed, "Administrator rights were not granted.");
}

void confirmErasure(const std::vector<TargetDisk>& drives, bool yes) {
  std::string names;
  for (size_t i = 0; i < drives.size(); ++i) {
    const TargetDisk& drive = drives[i];
    std::fprintf(stderr, "%s: %s, %s, %s\n", drive.bsd.c_str(), plainText(drive.name).c_str(),
                 sizeText(static_cast<int64_t>(drive.capacity)).c_str(),
                 plainText(drive.bus).c_str());
    names += (i == 0 ? "" : i + 1 == drives.size() ? " and " : ", ") + drive.bsd;
  }
  if (yes) return;
  if (!isatty(STDIN_FILENO))
    throw Refusal(ExitCode::usage, "Nothing was written: there is no terminal to ask whether " +
                                       names +
                                       " may be erased. Add --yes to write without asking.");
  std::fprintf(stderr, "All data on %s will be erased. Continue? [y/N] ", names.c_str());
  std::fflush(stderr);
  const std::string reply = answer();
  if (reply != "y" && reply != "Y" && reply != "yes" && reply != "YES" && reply != "Yes")
    throw Refusal(ExitCode::failed, "Nothing was written.");
}
