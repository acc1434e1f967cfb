#pragma once

#include <exception>
#include <string>
#include <system_error>

// The program's own failure: either a final sentence for the user, or the
// cancelled error that ends work once the stop flag is set. what() is the
// description shown to the user.
class ImagerError : public std::exception {
 public:
  static ImagerError message(std::string text) { return ImagerError(std::move(text), false); }
  // The same sentence for the user, with the system's own reason kept beside
  // it for whoever looks closer; the user sees only the sentence.
  static ImagerError message(std::string text, std::error_code reason) {
    ImagerError error(std::move(text), false);
    error.reason_ = reason;
    return error;
  }
  static ImagerError cancelled() { return ImagerError("Operation cancelled.", true); }

  bool isCancelled() const { return cancelled_; }
  // Empty unless the failure came with one.
  std::error_code reason() const { return reason_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  ImagerError(std::string description, bool cancelled)
      : description_(std::move(description)), cancelled_(cancelled) {}

  std::string description_;
  bool cancelled_;
  std::error_code reason_;
};
