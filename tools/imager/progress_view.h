#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Shows the stages of a job on one or several lines (one per drive), each
// with percentage, rate, the stage's and the whole job's time left ("--:--"
// until a rate is known). On a terminal the lines are redrawn in place; with
// one line, each finished stage stays on screen with its exact figures.
// Otherwise a few plain lines per stage, each prefixed with its line's name
// when there are several, and a last one with the exact figures.
class ProgressView {
 public:
  ProgressView(bool terminal, std::vector<std::string> names);

  // The expanded image's size, which the writing and verifying stages cover:
  // from it, the whole job's time left.
  void plan(int64_t expanded) { expanded_ = expanded; }
  // `total` 0 means the stage has no known end.
  void show(size_t line, const std::string& stage, int64_t completed, int64_t total);
  // Ends every stage with its exact figures and the terminal's lines.
  void finish();

 private:
  struct Line {
    std::string name, stage, label;
    int pass = 0, ends = 0, lastQuarter = -1;
    int64_t completed = 0, total = 0;
    bool open = false;  // the stage has not been ended with its figures
    std::chrono::steady_clock::time_point started;
  };

  void startStage(Line& line, const std::string& stage);
  void endStage(Line& line);
  std::string barText(const Line& line) const;
  std::string overallLeft(const Line& line, double rate) const;
  void redraw(bool force);
  void print(const Line& line, const std::string& text);

  bool terminal_;
  std::vector<Line> lines_;
  int64_t expanded_ = 0;
  std::chrono::steady_clock::time_point drawn_;
  bool drawnOnce_ = false;
};
