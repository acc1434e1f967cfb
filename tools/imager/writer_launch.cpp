#include "writer_launch.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

extern char** environ;

namespace {

pid_t spawn(const std::vector<std::string>& argv, bool ownGroup,
            char* const* environment = environ) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environment);
  posix_spawnattr_destroy(&attributes);
  if (err != 0) throw std::runtime_error("Cannot start " + argv[0] + ".");
  return pid;
}

}  // namespace

pid_t launchWriter(const std::string& writer, const std::string& argument) {
  if (geteuid() == 0) {
    // Root from here: the writer takes none of our variables.
    char* none[] = {nullptr};
    return spawn({writer, argument}, true, none);
  }
  bool ended = false;
  if (writerStatus(spawn({"sudo", "-v"}, false), true, &ended) != 0)
    throw std::runtime_error("Administrator rights were not granted.");
  return spawn({"sudo", "-n", "--", writer, argument}, true);
}

int writerStatus(pid_t pid, bool wait, bool* ended) {
  int status = 0;
  pid_t done;
  do done = waitpid(pid, &status, wait ? 0 : WNOHANG);
  while (done < 0 && errno == EINTR);
  *ended = done == pid;
  if (!*ended) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
