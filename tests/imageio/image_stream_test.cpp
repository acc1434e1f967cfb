#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "imageio/image_io.h"
#include "native/ori.h"
#include "records/imager_error.h"
#include "support/unique_fd.h"

// Every packing streams whole: the e2e cases write each onto a drive.

namespace {

constexpr int64_t kMiB = 1048576;
constexpr char kNotAligned[] = "The image is empty or is not a sector-aligned disk image.";

// What the archive reader itself reports when it reads `path` to the end.
std::string readerMessage(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char message[1024] = {};
  void* handle = ori_archive_open(fd.get(), message, sizeof message);
  if (!handle) return message;
  std::vector<char> buffer(kMiB);
  int64_t count;
  while ((count = ori_archive_read(handle, buffer.data(), buffer.size(), message, sizeof message)) >
         0) {
  }
  if (count == 0 && ori_archive_finish(handle, message, sizeof message) == 1) message[0] = '\0';
  ori_archive_close(handle);
  return message;
}

class ImageStreamTest : public ::testing::Test {
 protected:
  std::string raw(const std::string& bytes, const std::string& name = "image.img") {
    writeFile(dir / name, bytes);
    return dir / name;
  }

  // The pass's failure message, or "" when it succeeds; the consumer keeps
  // each chunk's size and every byte.
  std::string failure(const std::string& path) {
    try {
      const SourceFile source(path, 0, false);
      ImageIO::stream(source, cancel, [&](std::span<const uint8_t> chunk) {
        chunks.push_back(static_cast<int64_t>(chunk.size()));
        seen.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
      });
      return "";
    } catch (const ImagerError& error) {
      return error.what();
    }
  }

  TempDir dir;
  Cancellation cancel;
  std::vector<int64_t> chunks;
  std::string seen;
};

// The consumer sees an unaligned image before the pass refuses it.
TEST_F(ImageStreamTest, RefusesAnEmptyOrUnalignedPayload) {
  const std::string bytes = noiseBytes(1000, 11);
  EXPECT_EQ(failure(raw(bytes)), kNotAligned);
  EXPECT_EQ(seen, bytes);
  chunks.clear();
  writeFile(dir / "empty.img", "");
  shell("cd '" + dir.path() + "' && zip -q -X empty.zip empty.img");
  EXPECT_EQ(failure(dir / "empty.zip"), kNotAligned);
  EXPECT_TRUE(chunks.empty());
}

// The reader's own text becomes the error verbatim, whatever the library
// says.
TEST_F(ImageStreamTest, ReaderFailuresCarryTheReadersMessage) {
  const std::string bytes = noiseBytes(3 * kMiB, 12);
  const std::string gzip = readFile(pack(raw(bytes), Packing::Gzip));
  const std::string xz = readFile(pack(raw(bytes, "other.img"), Packing::Xz));
  std::string corruptGzip = gzip, corruptXz = xz;
  corruptGzip[10] = '\x07';  // the first deflate block has the reserved type
  corruptXz[xz.size() / 2] = static_cast<char>(corruptXz[xz.size() / 2] ^ 0xFF);
  writeFile(dir / "one.img", "a");
  writeFile(dir / "two.img", "b");
  shell("cd '" + dir.path() + "' && zip -q -X two.zip one.img two.img");
  const std::string cases[] = {
      raw(gzip.substr(0, gzip.size() / 2), "cut.gz"), raw(corruptGzip, "corrupt.gz"),
      raw(xz.substr(0, xz.size() / 2), "cut.xz"),     raw(corruptXz, "corrupt.xz"),
      raw("", "empty.img"),                           dir / "two.zip",
  };
  for (const std::string& path : cases) {
    const std::string expected = readerMessage(path);
    ASSERT_FALSE(expected.empty()) << path;
    EXPECT_EQ(failure(path), expected) << path;
  }
}

}  // namespace
