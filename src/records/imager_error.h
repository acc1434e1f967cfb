#pragma once

#include <exception>
#include <string>

// The program's own failure: either a final sentence for the user, or the
// cancelled error that ends work once the stop flag is set. what() is the
// description shown to the user.
class ImagerError : public std::exception {
 public:
  static ImagerError message(std::string text) { return ImagerError(std::move(text), false); }
  static ImagerError cancelled() { return ImagerError("Operation cancelled.", true); }

  bool isCancelled() const { return cancelled_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  ImagerError(std::string description, bool cancelled)
      : description_(std::move(description)), cancelled_(cancelled) {}

  std::string description_;
  bool cancelled_;
};
