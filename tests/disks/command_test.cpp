#include "disks/command.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "helpers/outcome.h"
#include "helpers/temp_dir.h"

namespace {

const std::string kTooMuch = "error: System query timed out or returned too much data.";
const std::string kFailed = "error: System query failed: ";
const std::string kFffd = "\xEF\xBF\xBD";

// Standard output on success, otherwise "error: " and the error's text.
std::string outcome(const std::string& script, int64_t limit = 1 << 20, double timeout = 15.0) {
  return outcomeOf([&] { return Command::run("/bin/sh", {"-c", script}, timeout, limit); },
                   "error: ");
}

// A script printing `out` bytes on standard output and `err` on standard error.
std::string printing(int out, int err) {
  return "head -c " + std::to_string(out) + " /dev/zero | tr '\\0' o; head -c " +
         std::to_string(err) + " /dev/zero | tr '\\0' e >&2";
}

}  // namespace

TEST(Command, PassesArgumentsAndReturnsOutputAsTheyStand) {
  EXPECT_EQ(outcome("printf 'a\\000b\\n'; echo ignored >&2"), std::string("a\0b\n", 4));
  const std::vector<std::string> arguments{"-c", "printf '%s|' \"$0\" \"$@\"", "0", "a b", "", "*",
                                           "$HOME"};
  EXPECT_EQ(Command::run("/bin/sh", arguments, 15.0, 100), "0|a b||*|$HOME|");
}

// Output within the limit, counted over both streams; otherwise the failure
// with the start of standard error. Overflow and the deadline come before
// the exit status; a child is stopped at once, and its descendants left.
TEST(Command, EndsInItsOutputOrItsFailure) {
  TempDir dir;
  const std::string a999(999, 'a');
  struct Case {
    const char* name;
    std::string script;
    std::string expected;
    int64_t limit = 1 << 20;
    double timeout = 15.0;
  } cases[] = {
      {"1000 bytes", printing(1000, 0), std::string(1000, 'o'), 1000},
      {"1001 bytes", printing(1001, 0), kTooMuch, 1000},
      {"1001 error bytes", printing(0, 1001), kTooMuch, 1000},
      {"both streams within", printing(600, 400), std::string(600, 'o'), 1000},
      {"both streams past", printing(600, 401), kTooMuch, 1000},
      {"nothing, limit 0", "true", "", 0},
      // Drained one after the other, a child filling the error pipe before
      // it writes its output would stall until the deadline.
      {"error pipe filled first", printing(0, 300000) + "; " + printing(300000, 0),
       std::string(300000, 'o'), 1 << 20, 60.0},
      {"no error output", "echo out; exit 1", kFailed},
      {"untrimmed", "printf '  boom\\n\\n' >&2; exit 3", kFailed + "  boom\n\n"},
      {"exactly 1000 bytes", "printf '%s' " + a999 + "b >&2; exit 1", kFailed + a999 + "b"},
      {"longer", "printf '%s' " + a999 + "bcdef >&2; exit 1", kFailed + a999 + "b"},
      {"character cut at 1000", "printf '%s\\303\\251' " + a999 + " >&2; exit 1",
       kFailed + a999 + kFffd},
      {"invalid bytes", "printf 'x\\377y' >&2; exit 1", kFailed + "x" + kFffd + "y"},
      {"killed by a signal", "echo dying >&2; kill -9 $$", kFailed + "dying\n"},
      {"overflow, then failure", printing(2000, 0) + "; exit 1", kTooMuch, 1000},
      {"past the deadline", "sleep 30", kTooMuch, 1000, 0.3},
      // Noticed at or after the deadline: a prompt exit still counts as late.
      {"no time at all", "true", kTooMuch, 1000, 0.0},
      // A grandchild holding the output pipe open does not hold the caller.
      // (A child that ignores SIGTERM or prints without end, and what a
      // child inherits: the e2e cases of the disk utility.)
      {"grandchild", "sleep 30 & echo $! > " + (dir / "pid") + "; echo done", kTooMuch, 1000, 0.5},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.script, c.limit, c.timeout), c.expected) << c.name;
  kill(std::stoi(readFile(dir / "pid")), SIGKILL);
}

TEST(Command, ChildSeesOnlyTheFixedEnvironment) {
  setenv("WRITER_TEST_SECRET", "leaked", 1);
  EXPECT_EQ(Command::run("/usr/bin/env", {}, 15.0, 1000),
            "PATH=/usr/bin:/bin:/usr/sbin:/sbin\nLC_ALL=C\n");
  unsetenv("WRITER_TEST_SECRET");
}

TEST(Command, AProgramThatCannotStartGivesTheSystemError) {
  TempDir dir;
  writeFile(dir / "not-executable", "#!/bin/sh\n", 0644);
  for (const auto& [path, code] : {std::pair{dir / "missing", ENOENT},
                                   std::pair{dir / "not-executable", EACCES}}) {
    try {
      Command::run(path, {}, 15.0, 1000);
      ADD_FAILURE() << path << " started";
    } catch (const std::system_error& error) {
      EXPECT_EQ(error.code().value(), code);
      EXPECT_STREQ(error.what(), std::strerror(code));
    }
  }
}
