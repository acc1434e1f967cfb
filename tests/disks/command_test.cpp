#include "disks/command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "helpers/temp_dir.h"
#include "records/imager_error.h"
#include "support/unique_fd.h"

namespace {

const std::string kTooMuch = "error: System query timed out or returned too much data.";
const std::string kFailed = "error: System query failed: ";
const std::string kFffd = "\xEF\xBF\xBD";

// Standard output on success, otherwise "error: " and the error's text.
std::string outcome(const std::string& script, int64_t limit = 1 << 20, double timeout = 15.0) {
  try {
    return Command::run("/bin/sh", {"-c", script}, timeout, limit);
  } catch (const ImagerError& error) {
    return std::string("error: ") + error.what();
  }
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

TEST(Command, LimitsBothStreamsTogether) {
  struct Case {
    int out, err;
    bool fits;
  } cases[] = {{1000, 0, true}, {1001, 0, false}, {0, 1001, false},
               {600, 400, true}, {600, 401, false}};
  for (const Case& c : cases)
    EXPECT_EQ(outcome(printing(c.out, c.err), 1000), c.fits ? std::string(c.out, 'o') : kTooMuch)
        << c.out << "+" << c.err;
  EXPECT_EQ(outcome("true", 0), "");
  // Drained one after the other, a child filling the error pipe before it
  // writes its output would stall until the deadline.
  EXPECT_EQ(outcome(printing(0, 300000) + "; " + printing(300000, 0), 1 << 20, 60.0),
            std::string(300000, 'o'));
}

TEST(Command, FailureTextCarriesTheStartOfStandardError) {
  const std::string a999(999, 'a');
  struct Case {
    const char* name;
    std::string script;
    std::string expected;
  } cases[] = {
      {"no error output", "echo out; exit 1", ""},
      {"untrimmed", "printf '  boom\\n\\n' >&2; exit 3", "  boom\n\n"},
      {"exactly 1000 bytes", "printf '%s' " + a999 + "b >&2; exit 1", a999 + "b"},
      {"longer", "printf '%s' " + a999 + "bcdef >&2; exit 1", a999 + "b"},
      {"character cut at 1000", "printf '%s\\303\\251' " + a999 + " >&2; exit 1", a999 + kFffd},
      {"invalid bytes", "printf 'x\\377y' >&2; exit 1", "x" + kFffd + "y"},
      {"killed by a signal", "echo dying >&2; kill -9 $$", "dying\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.script), kFailed + c.expected) << c.name;
}

TEST(Command, OverflowAndDeadlineComeBeforeTheExitStatus) {
  EXPECT_EQ(outcome(printing(2000, 0) + "; exit 1", 1000), kTooMuch);
  EXPECT_EQ(outcome("exec yes", 1000), kTooMuch);  // stopped by SIGTERM on overflow
  EXPECT_EQ(outcome("sleep 30", 1000, 0.3), kTooMuch);
  // Noticed at or after the deadline: a prompt exit still counts as late.
  EXPECT_EQ(outcome("true", 1000, 0.0), kTooMuch);
}

// Only SIGKILL ends this child, and the run returns with it reaped; a
// grandchild holding the output pipe open does not hold the caller.
TEST(Command, KillsAChildThatIgnoresTerminateAndLeavesItsDescendants) {
  TempDir dir;
  EXPECT_EQ(outcome("echo $$ > " + (dir / "pid") + "; trap '' TERM; exec sleep 30", 1000, 0.3),
            kTooMuch);
  EXPECT_EQ(kill(std::stoi(readFile(dir / "pid")), 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(outcome("sleep 30 & echo $! > " + (dir / "pid") + "; echo done", 1000, 0.5), kTooMuch);
  kill(std::stoi(readFile(dir / "pid")), SIGKILL);
}

TEST(Command, ChildSeesOnlyTheFixedEnvironment) {
  setenv("WRITER_TEST_SECRET", "leaked", 1);
  EXPECT_EQ(Command::run("/usr/bin/env", {}, 15.0, 1000),
            "PATH=/usr/bin:/bin:/usr/sbin:/sbin\nLC_ALL=C\n");
  unsetenv("WRITER_TEST_SECRET");
}

// One descriptor as the writer opens them, one as a careless parent might
// have passed it on: the child sees neither, and the caller's standard input.
TEST(Command, ChildInheritsNoDescriptorButTheStandardOnes) {
  UniqueFd closeOnExec(open("/dev/null", O_RDONLY | O_CLOEXEC));
  UniqueFd inheritable(open("/dev/null", O_RDONLY));
  ASSERT_TRUE(closeOnExec && inheritable);
  std::vector<std::string> arguments{
      "-c", "for n in \"$@\"; do [ -e /proc/$$/fd/$n ] && echo $n; done; readlink /proc/$$/fd/0",
      "sh"};
  for (int fd = 1; fd < 1024; ++fd) arguments.push_back(std::to_string(fd));
  char input[4096] = {};
  ASSERT_GT(readlink("/proc/self/fd/0", input, sizeof input - 1), 0);
  EXPECT_EQ(Command::run("/bin/sh", arguments, 15.0, 100000), "1\n2\n" + std::string(input) + "\n");
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
