#include "helpers/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace {

void drain(int fd, std::string& into, bool& open) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<size_t>(n));
  else if (n == 0 || errno != EINTR) open = false;
}

}  // namespace

ChildResult runProcess(const std::vector<std::string>& argv, std::optional<uid_t> uid,
                       std::chrono::milliseconds timeout) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (uid && (setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(120);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    char* environment[] = {nullptr};
    execve(args[0], args.data(), environment);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ChildResult result;
  bool outOpen = true, errOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    if (fds[0].revents) drain(out[0], result.out, outOpen);
    if (fds[1].revents) drain(err[0], result.err, errOpen);
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}
