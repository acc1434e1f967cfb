#include <fcntl.h>
#include <gtest/gtest.h>

#include "helpers/temp_dir.h"
#include "helpers/write_fault.h"
#include "imageio/image_io.h"
#include "support/unique_fd.h"

// A device may take part of a write; the rest follows from where it stopped.
// (The writer installs no signal handler, so its writes see no EINTR.
// Failing writes: the writeAndVerify tests.)
TEST(WriteAll, ShortWritesGoOnFromWhereTheDeviceStopped) {
  TempDir dir;
  writeFile(dir / "target", "");
  const UniqueFd target(::open((dir / "target").c_str(), O_WRONLY | O_CLOEXEC));
  const std::string bytes = noiseBytes(8192, 42);
  {
    const WriteFault fault(target.get(), EIO, 100, 1000);  // each call takes 1000 bytes
    ImageIO::writeAll(target.get(), {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    EXPECT_EQ(fault.calls(), 9);
  }
  EXPECT_EQ(readFile(dir / "target"), bytes);
}
