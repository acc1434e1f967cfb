#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "helpers/child_process.h"
#include "helpers/requests.h"
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

// A copy of the writer in a fresh directory that other users may enter but not
// list: the build may lie where only root can reach it.
class ReachableCopy {
 public:
  ReachableCopy() {
    std::string pattern = (std::filesystem::temp_directory_path() / "writer-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    directory_ = pattern;
    std::filesystem::permissions(directory_, std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_exec);
    std::filesystem::copy_file(WRITER_BINARY, path());
    std::filesystem::permissions(path(), std::filesystem::perms::owner_all |
                                             std::filesystem::perms::group_exec |
                                             std::filesystem::perms::others_exec);
  }
  ~ReachableCopy() { std::filesystem::remove_all(directory_); }
  std::string path() const { return (directory_ / "writer").string(); }

 private:
  std::filesystem::path directory_;
};

}  // namespace

// Each refusal with its message; the real program, given the same, ends
// with status 1 and prints nothing, also for a request it accepts, as no
// Imager listens at its channel. (The validation rules: the request tests.)
TEST(Intake, RefusesCallersAndArgumentsWithTheirMessages) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string valid = requestArgument(validRequest());
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
      {{requestArgument(invalid)}, "Invalid writer channel."},
  };
  const ReachableCopy writer;
  for (const Case& c : cases) {
    const auto row = &c - cases;
    std::vector<std::string> argv{writer.path()};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    if (c.outcome) {
      EXPECT_EQ(outcome(argv), c.outcome) << "case " << row;
    }
    const ChildResult result = runProcess(argv, c.outcome ? std::nullopt : std::optional(65534));
    EXPECT_EQ(result.exitStatus, 1) << "case " << row;
    EXPECT_EQ(result.output, "") << "case " << row;
  }
}
