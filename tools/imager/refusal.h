#pragma once

#include <stdexcept>
#include <string>

// The imager's exit statuses, as --help lists them.
enum class ExitCode : int {
  ok = 0,
  failed = 1,        // no administrator rights, or the writer could not run
  usage = 2,         // bad command line, or nobody to confirm the erasure
  badImage = 3,      // the image cannot be written as it is
  badDrive = 4,      // no such drive, or one that may not be written
  writeFailed = 5,   // the writer failed before or while writing
  verifyFailed = 6,  // the drive does not give back what was written
  interrupted = 130,
};

// A failure for people: `what()` says what went wrong and what to do,
// `detail` (optional) the underlying words, shown after it.
class Refusal : public std::runtime_error {
 public:
  Refusal(ExitCode code, const std::string& message, std::string detail = "")
      : std::runtime_error(message), code_(code), detail_(std::move(detail)) {}

  ExitCode code() const { return code_; }
  const std::string& detail() const { return detail_; }

 private:
  ExitCode code_;
  std::string detail_;
};
