#include "helpers/fake_disk_utility.h"

#include <sstream>

FakeDiskUtility::FakeDiskUtility(nlohmann::json description) : wrapper_((dir_ / "diskutil")) {
  writeFile(wrapper_,
            "#!/bin/sh\nexec python3 '" WRITER_TEST_DATA "/fake_diskutil' --state '" +
                (dir_ / "state.json") + "' \"$@\"\n",
            0755);
  describe(std::move(description));
}

void FakeDiskUtility::describe(nlohmann::json description) {
  description_ = std::move(description);
  save();
}

void FakeDiskUtility::save() {
  description_["log"] = (dir_ / "calls.jsonl");
  writeFile((dir_ / "state.json"), description_.dump());
}

std::vector<nlohmann::json> FakeDiskUtility::calls() const {
  std::vector<nlohmann::json> calls;
  std::istringstream lines(readFile((dir_ / "calls.jsonl")));
  for (std::string line; std::getline(lines, line);) calls.push_back(nlohmann::json::parse(line));
  return calls;
}

std::vector<std::string> FakeDiskUtility::commandLines() const {
  std::vector<std::string> lines;
  for (const auto& call : calls()) {
    std::string line;
    for (const auto& argument : call["argv"])
      line += (line.empty() ? "" : " ") + argument.get<std::string>();
    lines.push_back(line);
  }
  return lines;
}
