#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "helpers/temp_dir.h"
#include "native/ori.h"
#include "support/unique_fd.h"

namespace {

constexpr uint32_t kUntouched32 = 0xDEADBEEF;
constexpr uint64_t kUntouched64 = 0xDEADBEEFCAFEF00D;

}  // namespace

// Devices: the final-open tests in the sandbox.
TEST(GeometryOfNonDevices, FailsWithoutTouchingTheCapacity) {
  TempDir dir;
  writeFile((dir / "file"), std::string(4096, 'x'));
  UniqueFd file(open((dir / "file").c_str(), O_RDONLY | O_CLOEXEC));
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  for (int fd : {file.get(), readEnd.get(), -1}) {
    uint32_t blockSize = kUntouched32;
    uint64_t capacity = kUntouched64;
    EXPECT_EQ(ori_geometry(fd, &blockSize, &capacity), 0) << fd;
    EXPECT_EQ(blockSize, kUntouched32) << fd;
    EXPECT_EQ(capacity, kUntouched64) << fd;
  }
}
