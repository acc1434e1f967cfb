#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The one way the writer starts another program.
namespace Command {

// Runs `executable` with `arguments` and only PATH and LC_ALL in its
// environment, collecting both output streams at once. Returns standard
// output on exit status 0. Throws the system's error when the program cannot
// be started, "System query timed out or returned too much data." when it
// outlives `timeout` seconds or prints more than `limit` bytes on both
// streams together, and "System query failed: " followed by the start of its
// standard error otherwise.
//
// The child inherits standard input and no descriptor above 2; the caller
// keeps descriptors 0 to 2 open, so that no pipe of the run lands on them.
// The child's signal mask and dispositions start from the defaults. Output
// is drained until both pipes end, but never past the deadline (or half a
// second after a late kill): a descendant that keeps a pipe open cannot hold
// the caller, and a run whose output was not drained counts as timed out.
std::string run(const std::string& executable, const std::vector<std::string>& arguments,
                double timeout, int64_t limit);

}  // namespace Command
