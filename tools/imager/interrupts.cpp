#include "interrupts.h"

#include <signal.h>

namespace {
volatile sig_atomic_t caught = 0;
}

void catchInterrupts() {
  struct sigaction action {};
  action.sa_handler = [](int) { caught = 1; };
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() { return caught != 0; }
