#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "disks/command.h"
#include "helpers/requests.h"
#include "helpers/temp_dir.h"
#include "records/imager_error.h"
#include "session/intake.h"
#include "support/base64.h"

namespace {

// The JSON text of a valid request, padded with blanks to exactly `size` bytes.
std::string paddedRequest(std::size_t size) {
  std::string text = nlohmann::json(validRequest()).dump();
  text.insert(1, size - text.size(), ' ');
  return text;
}

std::string outcome(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  try {
    Intake::readRequest(static_cast<int>(argv.size()), argv.data());
    return "accepted";
  } catch (const ImagerError& error) {
    return error.what();
  } catch (const std::exception&) {
    return "undecodable";
  }
}

// The program's output and exit status, run as root or as nobody.
std::string program(const std::vector<std::string>& arguments, bool asNobody) {
  std::vector<std::string> argv{"-c", "\"$0\" \"$@\" 2>&1; echo \"status $?\""};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  if (!asNobody) return Command::run("/bin/sh", argv, 30.0, 1 << 20);
  argv.insert(argv.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh"});
  return Command::run("/usr/bin/setpriv", argv, 30.0, 1 << 20);
}

}  // namespace

// Each refusal with its message; the real program, given the same, ends
// with status 1 and prints nothing, also for a request it accepts, as no
// Imager listens at its channel. (The validation rules: the request tests.)
TEST(Intake, RefusesCallersAndArgumentsWithTheirMessages) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string valid = encodeBase64(nlohmann::json(validRequest()).dump());
  WriteRequest invalid = validRequest();
  invalid.nonce = "not a uuid";
  const char* kAuthorisation = "Administrator authorisation is required.";
  struct Case {
    std::vector<std::string> arguments;
    const char* outcome;  // nullptr: only the program, run as another user
  } cases[] = {
      {{valid}, "accepted"},
      {{}, kAuthorisation},
      {{valid, valid}, kAuthorisation},
      {{valid}, nullptr},
      {{"%%%%"}, "Invalid write request."},
      {{valid + "\n"}, "Invalid write request."},
      {{encodeBase64(paddedRequest(16384))}, "accepted"},
      {{encodeBase64(paddedRequest(16385))}, "Invalid write request."},
      {{encodeBase64("[1,2]")}, "undecodable"},
      {{encodeBase64("{\"version\":")}, "undecodable"},
      {{encodeBase64(nlohmann::json(invalid).dump())}, "Invalid writer channel."},
  };
  // A copy other users may run: the build may lie where only root can reach.
  const TempDir dir;
  shell("chmod 0711 '" + dir.path() + "' && install -m 0755 '" WRITER_BINARY "' '" + dir.path() + "'");
  for (const Case& c : cases) {
    const auto row = &c - cases;
    std::vector<std::string> argv{dir / "writer"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    if (c.outcome) {
      EXPECT_EQ(outcome(argv), c.outcome) << "case " << row;
    }
    EXPECT_EQ(program(argv, !c.outcome), "status 1\n") << "case " << row;
  }
}
