#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Shows the stages of a job: a redrawn bar with percentage, rate and time left
// on a terminal, a few plain lines otherwise.
class ProgressView {
 public:
  explicit ProgressView(bool terminal) : terminal_(terminal) {}

  // `total` 0 means the stage has no known end.
  void show(const std::string& stage, int64_t completed, int64_t total);
  // Ends the current line before other output.
  void finish();

 private:
  void startStage(const std::string& stage);
  void drawBar(int64_t completed, int64_t total, double seconds);
  void printMilestone(int64_t completed, int64_t total);

  bool terminal_;
  std::string stage_;
  std::string label_;
  int pass_ = 0;
  int ends_ = 0;  // events of this pass that reported the stage complete
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
  int64_t completed_ = 0;
  int lastQuarter_ = -1;
  bool lineOpen_ = false;
};
