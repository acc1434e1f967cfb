#include "session/inherited_state.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/platform.h"

namespace {

// Whoever started the writer may have left signals ignored or blocked: an
// ignored SIGCHLD lets the kernel reap the disk utility before it can be
// waited for, and the children inherit both. Handlers never survive exec, so
// setting back what came in ignored restores every default.
void resetSignals() {
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action{};
    if (signal == SIGKILL || signal == SIGSTOP || sigaction(signal, nullptr, &action) != 0)
      continue;
    if (action.sa_handler == SIG_IGN) (void)::signal(signal, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  (void)sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Interval timers survive exec: an armed one would end the job with a
// signal at a moment of the starter's choosing.
void disarmTimers() {
  const itimerval off{};
  for (const int timer : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF})
    (void)setitimer(timer, &off, nullptr);
}

}  // namespace

namespace InheritedState {

void reset() {
  // Variables steer libraries into loading code and reading files of the
  // starter's choosing; the writer reads none.
  Platform::startWithoutEnvironment();
  disarmTimers();
  resetSignals();
  // A working directory on the target drive's volume would keep it busy.
  if (chdir("/") != 0) std::exit(1);
}

}  // namespace InheritedState
