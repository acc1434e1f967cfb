#pragma once

// What the process that started the writer leaves behind and the writer must
// not keep: its environment, interval timers, working directory, ignored or
// blocked signals.
namespace InheritedState {

// Call first thing in main, before any thread starts or any library reads a
// variable. Exits with status 1 when the working directory cannot be left.
void reset();

}  // namespace InheritedState
