#include "helpers/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/platform.h"

ChildResult runProcess(const std::vector<std::string>& argv, std::optional<uid_t> uid) {
  auto pipe = Platform::makePipe();
  int ends[2] = {pipe.first.release(), pipe.second.release()};
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(ends[1], 1);
    dup2(ends[1], 2);
    if (uid && (setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(120);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    char* environment[] = {nullptr};
    execve(args[0], args.data(), environment);
    _exit(127);
  }
  close(ends[1]);
  ChildResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) result.output.append(buffer, static_cast<std::size_t>(n));
    else if (errno != EINTR) break;
  }
  close(ends[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}
