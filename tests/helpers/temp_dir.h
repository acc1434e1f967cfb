#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A fresh directory under the system's temporary directory, removed with all
// it holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the directory.
  std::string operator/(std::string_view name) const;

 private:
  std::string path_;
};

// Whole-file helpers; they throw std::runtime_error on failure.
void writeFile(const std::string& path, std::string_view bytes, unsigned mode = 0644);
std::string readFile(const std::string& path);

// Reproducible bytes that do not compress.
std::string noiseBytes(std::size_t count, uint32_t seed);

// Runs `command` with /bin/sh as the writer runs programs; throws with the
// start of its standard error when it does not exit with 0.
void shell(const std::string& command);

// The number of descriptors this process has open.
int openDescriptorCount();
