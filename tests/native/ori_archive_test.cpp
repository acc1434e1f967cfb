#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "native/ori.h"
#include "support/unique_fd.h"

namespace {

constexpr char kNoRegularFile[] = "The image archive does not contain a regular file.";

class OriArchiveTest : public ::testing::Test {
 protected:
  // A zip of directories only: opening it always fails the same way.
  UniqueFd failingInput() {
    std::filesystem::create_directories(dir / "a");
    shell("cd '" + dir.path() + "' && zip -q -r -X dirs.zip a");
    return open(dir / "dirs.zip");
  }

  UniqueFd rawInput(const std::string& bytes) {
    writeFile(dir / "image.img", bytes);
    return open(dir / "image.img");
  }

  static UniqueFd open(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  }

  TempDir dir;
};

TEST_F(OriArchiveTest, MessageIsCopiedWithSnprintfRules) {
  const UniqueFd fd = failingInput();
  struct Case {
    std::size_t size;
    std::string expected;
  };
  const Case cases[] = {
      {1024, kNoRegularFile},
      {sizeof kNoRegularFile, kNoRegularFile},  // exactly fits with its NUL
      {sizeof kNoRegularFile - 1, std::string(kNoRegularFile, sizeof kNoRegularFile - 2)},
      {10, "The image"},
      {1, ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
    std::string buffer(1100, 'x');
    EXPECT_EQ(ori_archive_open(fd.get(), buffer.data(), c.size), nullptr);
    EXPECT_EQ(std::string(buffer.c_str()), c.expected) << "size " << c.size;
    EXPECT_EQ(buffer[c.size], 'x') << "wrote past size " << c.size;
  }
}

TEST_F(OriArchiveTest, SizeZeroWritesNothing) {
  const UniqueFd fd = failingInput();
  std::string buffer(16, 'x');
  EXPECT_EQ(ori_archive_open(fd.get(), buffer.data(), 0), nullptr);
  EXPECT_EQ(buffer, std::string(16, 'x'));
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  EXPECT_EQ(ori_archive_open(fd.get(), nullptr, 0), nullptr);
}

TEST_F(OriArchiveTest, SuccessLeavesTheBufferAlone) {
  const std::string bytes = noiseBytes(4096, 1);
  const UniqueFd fd = rawInput(bytes);
  std::string message(64, 'x'), data(8192, '\0');
  void* handle = ori_archive_open(fd.get(), message.data(), message.size());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(ori_archive_read(handle, data.data(), data.size(), message.data(), message.size()),
            4096);
  EXPECT_EQ(data.substr(0, 4096), bytes);
  EXPECT_EQ(ori_archive_read(handle, data.data(), data.size(), message.data(), message.size()), 0);
  EXPECT_EQ(ori_archive_finish(handle, message.data(), message.size()), 1);
  EXPECT_EQ(message, std::string(64, 'x'));
  ori_archive_close(handle);
}

TEST_F(OriArchiveTest, NullHandleIsNotReady) {
  char message[64];
  char data[16];
  EXPECT_EQ(ori_archive_read(nullptr, data, sizeof data, message, sizeof message), -1);
  EXPECT_STREQ(message, "The image archive reader is not ready.");
  std::strcpy(message, "x");
  EXPECT_EQ(ori_archive_finish(nullptr, message, sizeof message), 0);
  EXPECT_STREQ(message, "The image archive reader is not ready.");
  ori_archive_close(nullptr);
}

TEST_F(OriArchiveTest, HugeCountIsNotReady) {
  const UniqueFd fd = rawInput(std::string(512, 'a'));
  char message[64];
  char data[16];
  void* handle = ori_archive_open(fd.get(), message, sizeof message);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(ori_archive_read(handle, data, SIZE_MAX, message, sizeof message), -1);
  EXPECT_STREQ(message, "The image archive reader is not ready.");
  ori_archive_close(handle);
}

TEST_F(OriArchiveTest, ClosingKeepsTheDescriptorForAnotherPass) {
  const std::string bytes = noiseBytes(2048, 2);
  const UniqueFd fd = rawInput(bytes);
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
    char message[64];
    std::string data(4096, '\0');
    void* handle = ori_archive_open(fd.get(), message, sizeof message);
    ASSERT_NE(handle, nullptr) << message;
    EXPECT_EQ(ori_archive_read(handle, data.data(), data.size(), message, sizeof message), 2048);
    EXPECT_EQ(data.substr(0, 2048), bytes);
    ori_archive_close(handle);  // abandoned without finishing
    EXPECT_EQ(::fcntl(fd.get(), F_GETFD), FD_CLOEXEC);
  }
}

}  // namespace
