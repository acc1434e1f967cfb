#include "disks/command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "helpers/temp_dir.h"
#include "records/imager_error.h"
#include "support/unique_fd.h"

namespace {

const std::string kTooMuch = "System query timed out or returned too much data.";
const std::string kFffd = "\xEF\xBF\xBD";

// Standard output on success, otherwise the error's text.
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

TEST(Command, ReturnsStandardOutputAsItStands) {
  EXPECT_EQ(outcome("printf 'a\\000b\\n'; echo ignored >&2"), std::string("a\0b\n", 4));
  EXPECT_EQ(outcome("true"), "");
  const std::string printed = Command::run(
      "/bin/sh", {"-c", "printf '%s|' \"$0\" \"$@\"", "zero", "a b", "", "*", "$HOME"}, 15.0, 100);
  EXPECT_EQ(printed, "zero|a b||*|$HOME|");
}

TEST(Command, LimitsBothStreamsTogether) {
  struct Case {
    int out, err;
    int64_t limit;
    bool fits;
  } cases[] = {
      {1000, 0, 1000, true},
      {1001, 0, 1000, false},
      {0, 1000, 1000, true},
      {0, 1001, 1000, false},
      {600, 400, 1000, true},
      {600, 401, 1000, false},
      {1048576, 1048576, 2097152, true},  // the disk utility's limit
      {1048576, 1048577, 2097152, false},
      {0, 0, 0, true},
  };
  for (const Case& c : cases) {
    const std::string result = outcome(printing(c.out, c.err), c.limit);
    if (c.fits) EXPECT_EQ(result, std::string(c.out, 'o')) << c.out << "+" << c.err;
    else EXPECT_EQ(result, "error: " + kTooMuch) << c.out << "+" << c.err;
  }
}

// With one stream drained after the other, a child filling the error pipe
// before it writes its output would stall until the deadline.
TEST(Command, DrainsBothPipesAtOnce) {
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
      {"empty error output", "echo out; exit 1", "System query failed: "},
      {"untrimmed", "printf '  boom\\n\\n' >&2; exit 3", "System query failed:   boom\n\n"},
      {"exactly 1000 bytes", "printf '%s' " + a999 + "b >&2; exit 1",
       "System query failed: " + a999 + "b"},
      {"longer", "printf '%s' " + a999 + "bcdef >&2; exit 1", "System query failed: " + a999 + "b"},
      {"character cut at 1000", "printf '%s\\303\\251' " + a999 + " >&2; exit 1",
       "System query failed: " + a999 + kFffd},
      {"invalid bytes", "printf 'x\\377y' >&2; exit 1", "System query failed: x" + kFffd + "y"},
      {"killed by a signal", "echo dying >&2; kill -9 $$", "System query failed: dying\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.script), "error: " + c.expected) << c.name;
}

TEST(Command, TooMuchOutputWinsOverTheExitStatus) {
  EXPECT_EQ(outcome(printing(2000, 0) + "; exit 1", 1000), "error: " + kTooMuch);
  EXPECT_EQ(outcome("exec yes", 1000), "error: " + kTooMuch);  // stopped by SIGTERM on overflow
}

TEST(Command, TimesOutAtTheDeadline) {
  EXPECT_EQ(outcome("sleep 30", 1000, 0.3), "error: " + kTooMuch);
  // Noticed at or after the deadline: a prompt exit still counts as late.
  EXPECT_EQ(outcome("true", 1000, 0.0), "error: " + kTooMuch);
  EXPECT_EQ(outcome("echo fast", 1000, 30.0), "fast\n");
}

// The child ignores SIGTERM; only SIGKILL can end it, and the run returns
// with the child reaped.
TEST(Command, KillsAChildThatIgnoresTerminate) {
  TempDir dir;
  const std::string pidFile = (dir / "pid");
  EXPECT_EQ(outcome("echo $$ > " + pidFile + "; trap '' TERM; exec sleep 30", 1000, 0.3),
            "error: " + kTooMuch);
  const pid_t pid = std::stoi(readFile(pidFile));
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

// A grandchild that keeps the output pipe open must not hold the caller past
// the deadline.
TEST(Command, DoesNotWaitForADescendantHoldingThePipe) {
  TempDir dir;
  const std::string pidFile = (dir / "pid");
  EXPECT_EQ(outcome("sleep 30 & echo $! > " + pidFile + "; echo parent done", 1000, 0.5),
            "error: " + kTooMuch);
  kill(std::stoi(readFile(pidFile)), SIGKILL);
}

TEST(Command, ChildSeesOnlyTheFixedEnvironment) {
  setenv("WRITER_TEST_SECRET", "leaked", 1);
  EXPECT_EQ(Command::run("/usr/bin/env", {}, 15.0, 1000),
            "PATH=/usr/bin:/bin:/usr/sbin:/sbin\nLC_ALL=C\n");
  unsetenv("WRITER_TEST_SECRET");
}

TEST(Command, ChildInheritsNoDescriptorButTheStandardOnes) {
  // One descriptor as the writer opens them, one as a careless parent might
  // have passed it on.
  UniqueFd closeOnExec(open("/dev/null", O_RDONLY | O_CLOEXEC));
  UniqueFd inheritable(open("/dev/null", O_RDONLY));
  ASSERT_TRUE(closeOnExec && inheritable);
  std::vector<std::string> arguments{
      "-c", "for n in \"$@\"; do [ -e /proc/$$/fd/$n ] && echo $n; done; readlink /proc/$$/fd/0",
      "sh"};
  for (int fd = 1; fd < 1024; ++fd) arguments.push_back(std::to_string(fd));
  char input[4096] = {};
  const ssize_t length = readlink("/proc/self/fd/0", input, sizeof input - 1);
  ASSERT_GT(length, 0);
  EXPECT_EQ(Command::run("/bin/sh", arguments, 15.0, 100000),
            "1\n2\n" + std::string(input, static_cast<std::size_t>(length)) + "\n");
}

TEST(Command, AProgramThatCannotStartGivesTheSystemError) {
  TempDir dir;
  writeFile((dir / "not-executable"), "#!/bin/sh\n", 0644);
  struct Case {
    std::string path;
    int err;
  } cases[] = {{(dir / "missing"), ENOENT}, {(dir / "not-executable"), EACCES}};
  for (const Case& c : cases) {
    try {
      Command::run(c.path, {}, 15.0, 1000);
      ADD_FAILURE() << c.path << " started";
    } catch (const std::system_error& error) {
      EXPECT_EQ(error.code().value(), c.err);
      EXPECT_STREQ(error.what(), std::strerror(c.err));
    }
  }
}
