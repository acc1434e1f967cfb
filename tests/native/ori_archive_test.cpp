#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "helpers/temp_dir.h"
#include "native/ori.h"
#include "support/unique_fd.h"

namespace {

constexpr char kNoRegularFile[] = "The image archive does not contain a regular file.";
constexpr char kNotReady[] = "The image archive reader is not ready.";

class OriArchiveTest : public ::testing::Test {
 protected:
  UniqueFd input(const std::string& bytes) {
    writeFile(dir / "image.img", bytes);
    return UniqueFd(::open((dir / "image.img").c_str(), O_RDONLY | O_CLOEXEC));
  }
  TempDir dir;
};

// A zip of directories only: opening it always fails the same way.
TEST_F(OriArchiveTest, MessageIsCopiedWithSnprintfRules) {
  std::filesystem::create_directories(dir / "a");
  shell("cd '" + dir.path() + "' && zip -q -r -X dirs.zip a");
  const UniqueFd fd(::open((dir / "dirs.zip").c_str(), O_RDONLY | O_CLOEXEC));
  const std::size_t fits = sizeof kNoRegularFile;  // with its NUL
  struct Case {
    std::size_t size;
    std::string expected;
  } cases[] = {
      {1024, kNoRegularFile},
      {fits, kNoRegularFile},
      {fits - 1, std::string(kNoRegularFile, fits - 2)},
      {1, ""},
      {0, ""},  // nothing written
  };
  for (const Case& c : cases) {
    ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
    std::string buffer(1100, 'x');
    EXPECT_EQ(ori_archive_open(fd.get(), buffer.data(), c.size), nullptr);
    if (c.size > 0) {
      EXPECT_EQ(std::string(buffer.c_str()), c.expected) << "size " << c.size;
    }
    EXPECT_EQ(buffer[c.size], 'x') << "wrote past size " << c.size;
  }
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  EXPECT_EQ(ori_archive_open(fd.get(), nullptr, 0), nullptr);
}

// Success leaves the message buffer alone, and closing leaves the
// descriptor open for another pass, finished or not.
TEST_F(OriArchiveTest, ReadsTheImageAndKeepsTheDescriptor) {
  const std::string bytes = noiseBytes(4096, 1);
  const UniqueFd fd = input(bytes);
  for (const bool finish : {true, false}) {
    ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
    std::string message(64, 'x'), data(8192, '\0');
    void* handle = ori_archive_open(fd.get(), message.data(), message.size());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ori_archive_read(handle, data.data(), data.size(), message.data(), message.size()),
              4096);
    EXPECT_EQ(data.substr(0, 4096), bytes);
    if (finish) {
      EXPECT_EQ(ori_archive_read(handle, data.data(), data.size(), message.data(), 64), 0);
      EXPECT_EQ(ori_archive_finish(handle, message.data(), message.size()), 1);
    }
    EXPECT_EQ(message, std::string(64, 'x'));
    ori_archive_close(handle);
    EXPECT_EQ(::fcntl(fd.get(), F_GETFD), FD_CLOEXEC);
  }
}

TEST_F(OriArchiveTest, NoHandleOrAHugeCountIsNotReady) {
  char message[64];
  char data[16];
  EXPECT_EQ(ori_archive_read(nullptr, data, sizeof data, message, sizeof message), -1);
  EXPECT_STREQ(message, kNotReady);
  message[0] = '\0';
  EXPECT_EQ(ori_archive_finish(nullptr, message, sizeof message), 0);
  EXPECT_STREQ(message, kNotReady);
  ori_archive_close(nullptr);
  const UniqueFd fd = input(std::string(512, 'a'));
  void* handle = ori_archive_open(fd.get(), message, sizeof message);
  ASSERT_NE(handle, nullptr);
  message[0] = '\0';
  EXPECT_EQ(ori_archive_read(handle, data, SIZE_MAX, message, sizeof message), -1);
  EXPECT_STREQ(message, kNotReady);
  ori_archive_close(handle);
}

}  // namespace
