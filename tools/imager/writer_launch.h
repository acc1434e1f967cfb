#pragma once

#include <sys/types.h>

#include <string>

// Starts the writer with `argument` in a process group of its own, so that
// an interrupt at the terminal reaches only the imager (the writer then sees
// the channel close and stops at its next check). Unless the imager already
// runs as root, it goes through sudo, whose password prompt is answered first
// in the foreground. Throws std::runtime_error when it cannot be started.
pid_t launchWriter(const std::string& writer, const std::string& argument);

// The writer's exit status once it has ended (-1 if it did not exit normally);
// nothing while it still runs and `wait` is false.
int writerStatus(pid_t pid, bool wait, bool* ended);
