#pragma once

#include <optional>
#include <string>

struct WriteOptions {
  std::string image;
  std::string drive;                // BSD name, e.g. disk4
  std::optional<std::string> user;  // the session user when the imager runs as root
  std::string writer;               // path of the writer program
  bool events = false;              // print the raw event lines instead of progress
};

// Measures the image, confirms the drive, starts the writer and follows its
// events to the end. Returns the process exit status: 0 only on "complete".
int writeImage(const WriteOptions& options);
