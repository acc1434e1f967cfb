#include "progress_view.h"

#include <cstdio>
#include <string_view>

namespace {

// The imager's own passes say "measuring"; the writer checks the image twice,
// once before it unmounts the drive and once just before writing.
std::string labelOf(std::string_view stage, int pass) {
  if (stage == "measuring") return "Measuring image";
  if (stage == "measuring-expanded") return "Measuring expanded image";
  if (stage == "checking") return "Checking image (" + std::to_string(pass) + " of 2)";
  if (stage == "inspecting") return "Inspecting image";
  if (stage == "writing") return "Writing";
  if (stage == "verifying") return "Verifying";
  return "Working";
}

std::string clock(double seconds) {
  const auto whole = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

void ProgressView::show(const std::string& stage, int64_t completed, int64_t total) {
  const auto now = std::chrono::steady_clock::now();
  // A stage that starts over is a new pass; so is one that had ended twice,
  // as the writer's first check ends with a second event for the match (an
  // image of one chunk never counts down).
  if (stage != stage_ || completed < completed_ || ends_ >= 2) startStage(stage);
  completed_ = completed;
  if (total > 0 && completed == total) ++ends_;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  if (!terminal_) return printMilestone(completed, total);
  // Redraw at most ten times a second, and always at the end of a stage.
  if (completed != total && now - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = now;
  drawBar(completed, total, seconds);
}

void ProgressView::finish() {
  if (lineOpen_) std::fputc('\n', stdout);
  lineOpen_ = false;
  std::fflush(stdout);
}

void ProgressView::startStage(const std::string& stage) {
  finish();
  pass_ = stage == stage_ ? pass_ + 1 : 1;
  label_ = labelOf(stage, pass_);
  stage_ = stage;
  ends_ = 0;
  started_ = std::chrono::steady_clock::now();
  drawn_ = {};
  lastQuarter_ = -1;
}

void ProgressView::drawBar(int64_t completed, int64_t total, double seconds) {
  const double megabytes = static_cast<double>(completed) / 1e6;
  const double rate = seconds > 0 ? megabytes / seconds : 0;
  if (total <= 0) {
    std::printf("\r%-24s %10.1f MB  %7.1f MB/s", label_.c_str(), megabytes, rate);
  } else {
    const double fraction = static_cast<double>(completed) / static_cast<double>(total);
    constexpr int kWidth = 20;  // the line stays within 80 columns
    const int filled = static_cast<int>(fraction * kWidth);
    const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '.');
    const double left = rate > 0 ? static_cast<double>(total - completed) / 1e6 / rate : 0;
    std::printf("\r%-24s [%s] %3d%%  %7.1f MB/s  %s left ", label_.c_str(), bar.c_str(),
                static_cast<int>(fraction * 100), rate, clock(left).c_str());
  }
  lineOpen_ = true;
  std::fflush(stdout);
}

void ProgressView::printMilestone(int64_t completed, int64_t total) {
  const int quarter = total > 0 ? static_cast<int>(completed * 4 / total) : 0;
  if (quarter == lastQuarter_) return;
  lastQuarter_ = quarter;
  if (total > 0)
    std::printf("%s: %d%%\n", label_.c_str(), quarter * 25);
  else
    std::printf("%s\n", label_.c_str());
  std::fflush(stdout);
}
