#include "progress_view.h"

#include <cstdio>
#include <string_view>

#include "sizes.h"

namespace {

using Clock = std::chrono::steady_clock;

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
  if (seconds < 0) return "--:--";
  const auto whole = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes per second once half a second of progress shows it, else 0.
double rateOf(int64_t completed, double seconds) {
  return seconds >= 0.5 && completed > 0 ? static_cast<double>(completed) / seconds : 0;
}

}  // namespace

ProgressView::ProgressView(bool terminal, std::vector<std::string> names) : terminal_(terminal) {
  for (auto& name : names) {
    lines_.emplace_back();
    lines_.back().name = std::move(name);
  }
}

void ProgressView::show(size_t index, const std::string& stage, int64_t completed, int64_t total) {
  Line& line = lines_.at(index);
  // A stage that starts over is a new pass; so is one that had ended twice,
  // as the writer's first check ends with a second event for the match (an
  // image of one chunk never counts down).
  if (stage != line.stage || completed < line.completed || line.ends >= 2) {
    if (line.open) endStage(line);
    startStage(line, stage);
  }
  line.completed = completed;
  line.total = total;
  if (total > 0 && completed == total) ++line.ends;
  if (terminal_) return redraw(total > 0 && completed == total);
  const int quarter = total > 0 ? static_cast<int>(completed * 4 / total) : 0;
  if (quarter == line.lastQuarter) return;
  line.lastQuarter = quarter;
  print(line, total > 0 ? line.label + ": " + std::to_string(quarter * 25) + "%" : line.label);
}

void ProgressView::finish() {
  for (Line& line : lines_)
    if (line.open) endStage(line);
  if (terminal_ && lines_.size() > 1 && drawnOnce_) std::fputc('\n', stdout);
  drawnOnce_ = false;
  std::fflush(stdout);
}

void ProgressView::startStage(Line& line, const std::string& stage) {
  line.pass = stage == line.stage ? line.pass + 1 : 1;
  line.label = labelOf(stage, line.pass);
  line.stage = stage;
  line.ends = 0;
  line.completed = 0;
  line.started = Clock::now();
  line.lastQuarter = -1;
  line.open = true;
}

// The stage's exact figures: where it ended and how long it took.
void ProgressView::endStage(Line& line) {
  const double seconds = secondsSince(line.started);
  const bool whole = line.total == 0 || line.completed == line.total;
  char figures[160];
  std::snprintf(figures, sizeof figures, "%s: %s %s bytes in %.1f s", line.label.c_str(),
                whole ? "done," : "stopped at", exactCount(line.completed).c_str(), seconds);
  line.open = false;
  // With several lines on a terminal the next stage simply takes the line.
  if (!terminal_) return print(line, figures);
  if (lines_.size() > 1) return;
  std::printf("\r%s\x1b[K\n", figures);
  drawnOnce_ = false;
}

std::string ProgressView::barText(const Line& line) const {
  const double seconds = secondsSince(line.started);
  const double rate = rateOf(line.completed, seconds);
  const std::string rateText = rate > 0 ? sizeText(static_cast<int64_t>(rate)) + "/s" : "-- MB/s";
  char text[200];
  if (line.total <= 0) {
    std::snprintf(text, sizeof text, "%-23s %10s  %9s", line.label.c_str(),
                  sizeText(line.completed).c_str(), rateText.c_str());
    return text;
  }
  const double fraction = static_cast<double>(line.completed) / static_cast<double>(line.total);
  const int width = lines_.size() > 1 ? 6 : 12;
  const int filled = static_cast<int>(fraction * width);
  const std::string bar = std::string(filled, '#') + std::string(width - filled, '.');
  const int64_t rest = line.total - line.completed;
  const double left = rest == 0 ? 0 : rate > 0 ? static_cast<double>(rest) / rate : -1;
  std::snprintf(text, sizeof text, "%-23s [%s] %3d%%  %9s  %s left%s", line.label.c_str(),
                bar.c_str(), static_cast<int>(fraction * 100), rateText.c_str(),
                clock(left).c_str(), overallLeft(line, rate).c_str());
  return text;
}

// ", M:SS all" for the writer's stages: this stage's rest, then each later
// stage at the rate measured for it (verifying at the writing rate, so the
// whole is known once writing has begun).
std::string ProgressView::overallLeft(const Line& line, double rate) const {
  static const std::string kOrder[] = {"checking", "checking", "inspecting", "writing",
                                       "verifying"};
  size_t at = 0;
  while (at < 5 && (kOrder[at] != line.stage || (at == 0 && line.pass > 1))) ++at;
  if (at == 5 || expanded_ == 0) return "";
  if (at < 3 || rate <= 0) return ", --:-- all";
  double left = static_cast<double>(line.total - line.completed) / rate;
  if (at == 3) left += static_cast<double>(expanded_) / rate;
  return ", " + clock(left) + " all";
}

void ProgressView::redraw(bool force) {
  const auto now = Clock::now();
  // At most ten times a second, and always at the end of a stage.
  if (!force && drawnOnce_ && now - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = now;
  if (drawnOnce_ && lines_.size() > 1) std::printf("\x1b[%zuA", lines_.size() - 1);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    const std::string prefix = lines_.size() > 1 ? line.name + "  " : "";
    std::printf("\r%s%s\x1b[K%s", prefix.c_str(), !line.open ? "Waiting" : barText(line).c_str(),
                i + 1 < lines_.size() ? "\n" : "");
  }
  drawnOnce_ = true;
  std::fflush(stdout);
}

void ProgressView::print(const Line& line, const std::string& text) {
  if (lines_.size() > 1) std::printf("%s: ", line.name.c_str());
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}
