// The archive image reader, through the flat functions the image passes use,
// and through the class for what only the class offers.

#include "native/archive_image_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "imageio/image_io.h"
#include "records/imager_error.h"
#include "native/ori.h"
#include "support/unique_fd.h"

namespace {

constexpr char kNotReady[] = "The image archive reader is not ready.";

// Three chunks and an odd tail, so every form is read in several calls.
const std::string& image() {
  static const std::string bytes = noiseBytes(3 * 1048576 + 1536, 7);
  return bytes;
}

class ArchiveTest : public ::testing::Test {
 protected:
  // Reads the payload of `path` in calls of `step` bytes (or none) and
  // finishes: the payload's digest and the message buffer, or the failing
  // step's message.
  std::string readAll(const std::string& path, std::size_t step = 1048576, bool read = true) {
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char message[256] = "untouched";
    void* handle = ori_archive_open(fd.get(), message, sizeof message);
    if (handle == nullptr) return message;
    std::string payload, buffer(step, '\0');
    int64_t count = 0;
    while (read && (count = ori_archive_read(handle, buffer.data(), step, message, 256)) > 0)
      payload.append(buffer, 0, static_cast<std::size_t>(count));
    const bool finished = count == 0 && ori_archive_finish(handle, message, sizeof message) == 1;
    ori_archive_close(handle);
    return finished ? sha256Of(payload) + " " + message : message;
  }

  std::string raw() {
    writeFile(dir / "image.img", image());
    return dir / "image.img";
  }

  TempDir dir;
  UniqueFd fd;
};

// Damaged or odd archives fail the stream pass with the reader's own text,
// whatever the library says. (Every packing read whole: the e2e cases.)
TEST_F(ArchiveTest, ReaderFailuresEndThePassWithTheReadersMessage) {
  const std::string gzip = readFile(pack(raw(), ".gz"));
  const std::string xz = readFile(pack(raw(), ".xz"));
  std::string corruptGzip = gzip, corruptXz = xz;
  corruptGzip[10] = '\x07';  // the first deflate block has the reserved type
  corruptXz[xz.size() / 2] = static_cast<char>(corruptXz[xz.size() / 2] ^ 0xFF);
  const std::string cases[] = {gzip.substr(0, gzip.size() / 2), corruptGzip,
                               xz.substr(0, xz.size() / 2), corruptXz, ""};
  for (const std::string& bytes : cases) {
    writeFile(dir / "damaged", bytes);
    const std::string expected = readAll(dir / "damaged");
    ASSERT_EQ(expected.find(" untouched"), std::string::npos) << expected;
    const Cancellation cancel;
    try {
      ImageIO::stream(SourceFile(dir / "damaged", 0, false), cancel, [](auto) {});
      ADD_FAILURE() << expected;
    } catch (const ImagerError& error) {
      EXPECT_EQ(error.what(), expected);
    }
  }
}

// The payload is the first regular file; nothing but directories may follow.
// Other formats are images like any other bytes (the digest checks refuse
// them later).
TEST_F(ArchiveTest, YieldsTheOneRegularFileOfAZipOrTheBytesOfOtherArchives) {
  std::filesystem::create_directories(dir / "folder/empty");
  writeFile(dir / "folder/image.img", image());
  writeFile(dir / "second.img", "other");
  shell("cd '" + dir.path() + "' && zip -q -X first.zip folder/empty folder/image.img && " +
        "zip -q -X two.zip folder/image.img second.img && zip -q -X dirs.zip folder/empty && " +
        "tar -cf packed.tar folder/image.img");
  writeFile(dir / "packed.7z", std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + noiseBytes(5000, 3));
  const std::string twoFiles = "The image archive contains more than one regular file.";
  EXPECT_EQ(readAll(dir / "first.zip"), sha256Of(image()) + " untouched") << "directory first";
  EXPECT_EQ(readAll(dir / "two.zip"), twoFiles);
  EXPECT_EQ(readAll(dir / "two.zip", 1, false), twoFiles) << "payload unread";
  EXPECT_EQ(readAll(dir / "dirs.zip"), "The image archive does not contain a regular file.");
  for (const std::string name : {"packed.tar", "packed.7z"})
    EXPECT_EQ(readAll(dir / name), sha256Of(readFile(dir / name)) + " untouched") << name;
}

// What expanding may take is read before anything is decoded: blocks in
// streams in a row, zero padding between, are all read, but one block of a
// later stream that asks for more than 64 MiB of dictionary refuses the
// image (its header's checksum is not even looked at), and so does a zip
// entry packed other than stored or deflated.
TEST_F(ArchiveTest, RefusesWhatWouldTakeUnboundedMemoryToExpand) {
  shell("cd '" + dir.path() + "' && xz -T1 --block-size=1MiB -c '" + raw() + "' > one.xz && " +
        "(cat one.xz; printf '\\0\\0\\0\\0'; cat one.xz) > two.xz && " +
        "zip -q -X -Z bzip2 bzip2.zip image.img");
  EXPECT_EQ(readAll(dir / "two.xz"), sha256Of(image() + image()) + " untouched");
  std::string two = readFile(dir / "two.xz");
  const std::size_t header = readFile(dir / "one.xz").size() + 4 + 12;
  const std::size_t lzma2 = two.find("\x21\x01", header);
  ASSERT_LT(lzma2, header + (static_cast<uint8_t>(two[header]) + 1) * 4);
  const std::string tooLarge = "The xz image needs a dictionary larger than 64 MiB.";
  for (const char bits : {28, 29}) {  // 64 MiB, which the checksum then fails, and 96 MiB
    two[lzma2 + 2] = bits;
    writeFile(dir / "big.xz", two);
    EXPECT_EQ(readAll(dir / "big.xz") == tooLarge, bits == 29) << int{bits};
  }
  EXPECT_EQ(readAll(dir / "bzip2.zip"), "The zip image's entries must be stored or deflated.");
}

// snprintf's rule: at most size - 1 bytes and a NUL, nothing for size 0.
TEST_F(ArchiveTest, CopiesMessagesWithSnprintfRules) {
  std::filesystem::create_directories(dir / "a");
  shell("cd '" + dir.path() + "' && zip -q -r -X dirs.zip a");
  fd.reset(::open((dir / "dirs.zip").c_str(), O_RDONLY | O_CLOEXEC));
  const std::string text = "The image archive does not contain a regular file.";
  for (const std::size_t size : {std::size_t{1024}, text.size() + 1, text.size(), std::size_t{1},
                                  std::size_t{0}}) {
    ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
    std::string buffer(1100, 'x');
    EXPECT_EQ(ori_archive_open(fd.get(), buffer.data(), size), nullptr);
    const std::size_t written = std::min(size, text.size() + 1);
    const std::string copied = size == 0 ? "" : text.substr(0, written - 1) + '\0';
    EXPECT_EQ(buffer.substr(0, written), copied) << size;
    EXPECT_EQ(buffer[written], 'x') << "wrote past " << size;
  }
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  EXPECT_EQ(ori_archive_open(fd.get(), nullptr, 0), nullptr);
}

// No handle, or a count of 2^63 or more: not ready. Closing, finished or
// not, leaves the descriptor open for another pass.
TEST_F(ArchiveTest, RefusesWhatItCannotServeAndKeepsTheDescriptor) {
  char message[64], data[16];
  EXPECT_EQ(ori_archive_read(nullptr, data, sizeof data, message, sizeof message), -1);
  EXPECT_STREQ(message, kNotReady);
  message[0] = '\0';
  EXPECT_EQ(ori_archive_finish(nullptr, message, sizeof message), 0);
  EXPECT_STREQ(message, kNotReady);
  ori_archive_close(nullptr);
  fd.reset(::open(raw().c_str(), O_RDONLY | O_CLOEXEC));
  void* handle = ori_archive_open(fd.get(), message, sizeof message);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(ori_archive_read(handle, data, std::size_t{1} << 63, message, sizeof message), -1);
  EXPECT_STREQ(message, kNotReady);
  ori_archive_close(handle);
  EXPECT_EQ(::fcntl(fd.get(), F_GETFD), FD_CLOEXEC);
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  EXPECT_EQ(readAll(dir / "image.img"), sha256Of(image()) + " untouched");
  EXPECT_EQ(::fcntl(fd.get(), F_GETFD), FD_CLOEXEC);
}

// By path, and with an expected size that only an archive stating one checks.
TEST_F(ArchiveTest, ClassOpensByPathAndChecksAStatedSize) {
  using orvane::imager::ArchiveImageReader;
  const std::string zip = pack(raw(), ".zip");
  const uint64_t size = image().size();
  ArchiveImageReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(std::filesystem::path(zip).wstring(), size, &error)) << error;
  EXPECT_FALSE(reader.Open(std::filesystem::path(zip).wstring(), size + 512, &error));
  EXPECT_EQ(error, "The expanded image size does not match the expected image size.");
  EXPECT_TRUE(reader.Open(std::filesystem::path(dir / "image.img").wstring(), size + 512, &error));
  EXPECT_FALSE(reader.Open(L"/nonexistent/image", std::nullopt, &error));
}

}  // namespace
