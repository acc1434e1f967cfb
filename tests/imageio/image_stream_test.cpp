#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "imageio/image_io.h"
#include "native/ori.h"
#include "records/imager_error.h"
#include "support/unique_fd.h"

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
    const std::string path = dir / name;
    writeFile(path, bytes);
    return path;
  }

  // Runs a pass that records each chunk's size and all bytes seen.
  ImageIO::StreamResult run(const std::string& path) {
    const SourceFile source(path, 0, false);
    return ImageIO::stream(source, cancel, [&](std::span<const uint8_t> chunk) {
      chunks.push_back(static_cast<int64_t>(chunk.size()));
      seen.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    });
  }

  std::string failure(const std::string& path) {
    try {
      run(path);
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

class StreamEveryPacking : public ImageStreamTest, public ::testing::WithParamInterface<Packing> {};

TEST_P(StreamEveryPacking, YieldsTheExpandedImageAndItsDigest) {
  const std::string bytes = noiseBytes(3 * kMiB + 1536, 9);
  const auto result = run(pack(raw(bytes), GetParam()));
  EXPECT_EQ(result.bytes, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(result.sha256, sha256Of(bytes));
  EXPECT_EQ(seen, bytes);
  for (const int64_t size : chunks) EXPECT_LE(size, kMiB);
}

INSTANTIATE_TEST_SUITE_P(Images, StreamEveryPacking,
                         ::testing::Values(Packing::Raw, Packing::Gzip, Packing::Xz, Packing::Zip),
                         [](const auto& param) { return std::string(packingName(param.param)); });

TEST_F(ImageStreamTest, SmallRawImageIsOneChunk) {
  const std::string bytes = noiseBytes(1536, 10);
  const auto result = run(raw(bytes));
  EXPECT_EQ(chunks, std::vector<int64_t>{1536});
  EXPECT_EQ(result.bytes, 1536);
  EXPECT_EQ(result.sha256, sha256Of(bytes));
}

TEST_F(ImageStreamTest, UnalignedImageFailsAfterTheConsumerSawIt) {
  const std::string bytes = noiseBytes(1000, 11);
  EXPECT_EQ(failure(raw(bytes)), kNotAligned);
  EXPECT_EQ(seen, bytes);
}

TEST_F(ImageStreamTest, EmptyPayloadIsRefused) {
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
  std::string corruptGzip = gzip;
  corruptGzip[10] = '\x07';  // the first deflate block has the reserved type
  std::string corruptXz = xz;
  corruptXz[xz.size() / 2] = static_cast<char>(corruptXz[xz.size() / 2] ^ 0xFF);
  writeFile(dir / "one.img", "a");
  writeFile(dir / "two.img", "b");
  shell("cd '" + dir.path() + "' && zip -q -X two.zip one.img two.img");

  const struct {
    const char* what;
    std::string path;
  } cases[] = {
      {"truncated gzip", raw(gzip.substr(0, gzip.size() / 2), "cut.gz")},
      {"corrupt gzip", raw(corruptGzip, "corrupt.gz")},
      {"truncated xz", raw(xz.substr(0, xz.size() / 2), "cut.xz")},
      {"corrupt xz", raw(corruptXz, "corrupt.xz")},
      {"empty file", raw("", "empty.img")},
      {"zip of two files", dir / "two.zip"},
  };
  for (const auto& c : cases) {
    const std::string expected = readerMessage(c.path);
    ASSERT_FALSE(expected.empty()) << c.what;
    EXPECT_EQ(failure(c.path), expected) << c.what;
  }
  EXPECT_EQ(readerMessage(dir / "two.zip"),
            "The image archive contains more than one regular file.");
}

TEST_F(ImageStreamTest, CancellationLetsTheCurrentChunkComplete) {
  const SourceFile source(raw(noiseBytes(3 * kMiB, 13)), 0, false);
  int calls = 0;
  try {
    ImageIO::stream(source, cancel, [&](std::span<const uint8_t>) {
      ++calls;
      cancel.set();
    });
    FAIL() << "the pass finished";
  } catch (const ImagerError& error) {
    EXPECT_TRUE(error.isCancelled());
  }
  EXPECT_EQ(calls, 1);
}

TEST_F(ImageStreamTest, StoppedBeforeTheFirstReadConsumesNothing) {
  cancel.set();
  EXPECT_EQ(failure(raw(noiseBytes(4096, 14))), "Operation cancelled.");
  EXPECT_TRUE(chunks.empty());
}

TEST_F(ImageStreamTest, ConsumerErrorEndsThePassUnchanged) {
  const SourceFile source(raw(noiseBytes(2 * kMiB, 15)), 0, false);
  struct Disconnected {};
  EXPECT_THROW(
      ImageIO::stream(source, cancel, [](std::span<const uint8_t>) { throw Disconnected{}; }),
      Disconnected);
  // The source is left usable for the next pass.
  EXPECT_EQ(ImageIO::stream(source, cancel, [](std::span<const uint8_t>) {}).bytes, 2 * kMiB);
}

}  // namespace
