#pragma once

#include <cstddef>
#include <cstdint>

// Makes write(2) on one descriptor misbehave while the object lives: the
// first `passing` calls go through, each writing at most `passingBytes`,
// every later one fails with `error` (errno), or returns 0 without writing
// when `error` is 0. Other descriptors
// are untouched. The code under test calls write(2) as always; the test
// binary supplies the symbol that checks for a fault before the system call.
class WriteFault {
 public:
  WriteFault(int fd, int error, int passing = 0, std::size_t passingBytes = SIZE_MAX);
  ~WriteFault();
  WriteFault(const WriteFault&) = delete;
  WriteFault& operator=(const WriteFault&) = delete;

  // Calls the descriptor saw while the fault was armed, passing ones included.
  int calls() const;
};
