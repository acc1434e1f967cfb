#include "job_summary.h"

#include <cstdio>

#include "plain_text.h"
#include "sizes.h"

namespace {

std::string fixed(double value, int decimals, const char* unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
  return text;
}


bool startsWithAny(const std::string& text, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes)
    if (text.starts_with(prefix)) return true;
  return false;
}

std::string rate(int64_t bytes, double seconds) {
  if (seconds <= 0) return "- MB/s";
  return fixed(static_cast<double>(bytes) / 1e6 / seconds, 0, "MB/s");
}

}  // namespace

void JobClock::saw(const std::string& stage) { lastSeen_[stage] = std::chrono::steady_clock::now(); }

double JobClock::seconds(const std::string& from, const std::string& to) const {
  const auto start = lastSeen_.find(from), end = lastSeen_.find(to);
  if (start == lastSeen_.end() || end == lastSeen_.end()) return 0;
  return std::chrono::duration<double>(end->second - start->second).count();
}

std::string JobClock::summary(int64_t bytes, const TargetDisk& disk) const {
  const double total =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  return "Wrote " + sizeText(bytes) + " to " + plainText(disk.bsd) + " (" + plainText(disk.name) +
         ") in " + fixed(total, total < 10 ? 1 : 0, "s") + "; write " +
         rate(bytes, seconds("inspecting", "writing")) + ", verify " +
         rate(bytes, seconds("writing", "verifying")) + "; verified.";
}

std::string hintFor(const std::string& message) {
  if (message == "The selected drive changed, is protected or was disconnected. Select it again.")
    return "Run `imager list` to see the drives that may be written now, then write again.";
  if (message == "Administrator rights were not granted." || message == "Cannot start sudo.")
    return "The writer needs administrator rights: run imager write with sudo.";
  return "";
}

std::string messageFor(const std::string& message) {
  if (message == "System query failed: ")
    return "The disk utility failed without giving a reason: reconnect the drive and try again.";
  if (message.empty() || message.ends_with(": "))
    return message + "(no reason was given)";
  return message;
}

ExitCode exitCodeFor(const std::string& message, const std::string& reached) {
  if (reached == "verifying") return ExitCode::verifyFailed;
  if (reached == "writing") return ExitCode::writeFailed;
  if (startsWithAny(message, {"The selected drive", "Cannot lock the drive", "Final device",
                              "The drive is too small", "Invalid device", "Invalid external",
                              "System query"}))
    return ExitCode::badDrive;
  if (startsWithAny(message, {"The source changed", "Image ", "Cannot open the image",
                              "Cannot read the image", "The image ", "Expanded image", "Lzma",
                              "Zlib", "ZIP", "Truncated", "Damaged", "Unrecognized"}))
    return ExitCode::badImage;
  return ExitCode::writeFailed;
}
