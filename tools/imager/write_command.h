#pragma once

#include <optional>
#include <string>
#include <vector>

struct WriteOptions {
  std::string image;
  std::vector<std::string> drives;   // as typed, e.g. disk4 or /dev/rdisk4
  std::optional<std::string> user;    // the session user when the imager runs as root
  std::string writer;                 // path of the writer program
  std::optional<std::string> sha256;  // the image's expected digest
  bool events = false;                // print the raw event lines instead of progress
  bool yes = false;                   // erase without asking
};

// Checks the image and the drives, gets administrator rights, asks, measures
// the image, then writes it to every drive at once, one writer each, and
// says how each ended. Returns the exit status (see refusal.h): 0 only when
// every drive was verified. Throws Refusal for what ends it before writing.
int writeImage(const WriteOptions& options);
