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

TEST(Intake, RefusesCallersAndArgumentsWithTheirMessages) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string valid = requestArgument(validRequest());
  WriteRequest invalid = validRequest();
  invalid.nonce = "not a uuid";
  struct Case {
    std::vector<std::string> arguments;
    const char* outcome;
  } cases[] = {
      {{"writer", valid}, "accepted"},
      {{"writer"}, "Administrator authorisation is required."},
      {{"writer", valid, valid}, "Administrator authorisation is required."},
      {{"writer", valid + "\n"}, "Invalid write request."},
      {{"writer", encodeBase64(paddedRequest(16384))}, "accepted"},
      {{"writer", encodeBase64(paddedRequest(16385))}, "Invalid write request."},
      {{"writer", encodeBase64("[1,2]")}, "undecodable"},
      {{"writer", requestArgument(invalid)}, "Invalid writer channel."},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.arguments), c.outcome) << "case " << (&c - cases);
}

// Every refusal before the channel exists ends the real program with status
// 1, silently.
TEST(Intake, WriterExitsSilentlyOnEveryRefusal) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string valid = requestArgument(validRequest());
  const auto edited = [](void (*change)(WriteRequest&)) {
    WriteRequest request = validRequest();
    change(request);
    return requestArgument(request);
  };
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<uid_t> uid;
  } cases[] = {
      {"no argument", {}, std::nullopt},
      {"two arguments", {valid, valid}, std::nullopt},
      {"not root", {valid}, 65534},
      {"not Base64", {"%%%%"}, std::nullopt},
      {"16385 bytes", {encodeBase64(paddedRequest(16385))}, std::nullopt},
      {"not JSON", {encodeBase64("{\"version\":")}, std::nullopt},
      {"bad owner", {edited([](WriteRequest& r) { r.uid = 499; })}, std::nullopt},
      {"bad target", {edited([](WriteRequest& r) { r.target.bsd = "disk1s1"; })}, std::nullopt},
      {"bad channel", {edited([](WriteRequest& r) { r.nonce = "x"; })}, std::nullopt},
      {"bad inspection", {edited([](WriteRequest& r) { r.inspection.expanded = 513; })},
       std::nullopt},
      {"nobody listening", {valid}, std::nullopt},
  };
  const ReachableCopy writer;
  for (const Case& c : cases) {
    std::vector<std::string> argv{writer.path()};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const ChildResult result = runProcess(argv, c.uid);
    EXPECT_EQ(result.exitStatus, 1) << c.name;
    EXPECT_EQ(result.output, "") << c.name;
  }
}
