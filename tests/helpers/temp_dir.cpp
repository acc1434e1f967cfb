#include "helpers/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "disks/command.h"

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "writer-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  // The system's temporary directory may lie behind a link (/var on a Mac),
  // which the writer's link-free paths refuse to follow.
  path_ = std::filesystem::canonical(pattern).string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::operator/(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

void writeFile(const std::string& path, std::string_view bytes, unsigned mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out || ::chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string noiseBytes(std::size_t count, uint32_t seed) {
  std::mt19937 engine(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(engine() & 0xFF);
  return bytes;
}

void shell(const std::string& command) { Command::run("/bin/sh", {"-c", command}, 300.0, 1 << 26); }

int openDescriptorCount() {
  int count = 0;
  // Linux links /dev/fd to /proc/self/fd; macOS has no /proc.
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/dev/fd"))
    ++count;
  return count;
}
