#include "native/archive_image_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "support/unique_fd.h"

using orvane::imager::ArchiveImageReader;

namespace {

// Three chunks and an odd tail, so every form is read in several calls.
const std::string& image() {
  static const std::string bytes = noiseBytes(3 * 1048576 + 1536, 7);
  return bytes;
}

// Everything the reader yields, in calls of `step` bytes.
std::string readPayload(ArchiveImageReader& reader, std::size_t step = 1048576) {
  std::string payload, buffer(step, '\0'), error;
  for (;;) {
    const int64_t count = reader.Read(buffer.data(), buffer.size(), &error);
    if (count < 0) throw std::runtime_error("read failed: " + error);
    if (count == 0) return payload;
    payload.append(buffer, 0, static_cast<std::size_t>(count));
  }
}

UniqueFd openRead(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

class ArchiveImageReaderTest : public ::testing::Test {
 protected:
  std::string rawImage() {
    const std::string path = dir / "image.img";
    writeFile(path, image());
    return path;
  }

  // Opens `path` by descriptor; the descriptor outlives the reader.
  bool open(const std::string& path, std::string* error,
            std::optional<uint64_t> expected = std::nullopt) {
    fd_ = openRead(path);
    return reader.OpenDescriptor(fd_.get(), expected, error);
  }

  TempDir dir;
  UniqueFd fd_;
  ArchiveImageReader reader;
};

class EveryPacking : public ArchiveImageReaderTest,
                     public ::testing::WithParamInterface<Packing> {};

TEST_P(EveryPacking, DescriptorYieldsTheRawImageThenFinishes) {
  std::string error = "untouched";
  ASSERT_TRUE(open(pack(rawImage(), GetParam()), &error)) << error;
  EXPECT_EQ(readPayload(reader, 65536 + 3), image());
  EXPECT_TRUE(reader.Finish(&error));
  EXPECT_EQ(error, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Images, EveryPacking,
                         ::testing::Values(Packing::Raw, Packing::Gzip, Packing::Xz, Packing::Zip),
                         [](const auto& param) { return std::string(packingName(param.param)); });

TEST_F(ArchiveImageReaderTest, ZipSkipsADirectoryEntryBeforeThePayload) {
  std::filesystem::create_directories(dir / "folder/empty");
  writeFile(dir / "folder/image.img", image());
  // zip -r stores each directory before the files inside it.
  shell("cd '" + dir.path() + "' && zip -q -r -X packed.zip folder/empty folder/image.img");
  std::string error;
  ASSERT_TRUE(open(dir / "packed.zip", &error)) << error;
  EXPECT_EQ(readPayload(reader), image());
  EXPECT_TRUE(reader.Finish(&error)) << error;
}

TEST_F(ArchiveImageReaderTest, ZipWithTwoFilesYieldsTheFirstAndFailsToFinish) {
  writeFile(dir / "first.img", image());
  writeFile(dir / "second.img", "other");
  shell("cd '" + dir.path() + "' && zip -q -X two.zip first.img second.img");
  std::string error;
  ASSERT_TRUE(open(dir / "two.zip", &error)) << error;
  EXPECT_EQ(readPayload(reader), image());
  EXPECT_FALSE(reader.Finish(&error));
  EXPECT_EQ(error, "The image archive contains more than one regular file.");
}

TEST_F(ArchiveImageReaderTest, ZipWithUnreadPayloadStillFindsTheSecondFile) {
  writeFile(dir / "first.img", image());
  writeFile(dir / "second.img", "other");
  shell("cd '" + dir.path() + "' && zip -q -X two.zip first.img second.img");
  std::string error;
  ASSERT_TRUE(open(dir / "two.zip", &error)) << error;
  EXPECT_FALSE(reader.Finish(&error));
  EXPECT_EQ(error, "The image archive contains more than one regular file.");
}

TEST_F(ArchiveImageReaderTest, ZipOfOnlyDirectoriesHasNoPayload) {
  std::filesystem::create_directories(dir / "a/b");
  shell("cd '" + dir.path() + "' && zip -q -r -X dirs.zip a");
  std::string error;
  EXPECT_FALSE(open(dir / "dirs.zip", &error));
  EXPECT_EQ(error, "The image archive does not contain a regular file.");
}

// Formats that are not enabled are images like any other bytes; the digest
// checks refuse them later.
TEST_F(ArchiveImageReaderTest, OtherArchivesAreDeliveredByteForByte) {
  writeFile(dir / "inner.img", image());
  shell("cd '" + dir.path() + "' && tar -cf packed.tar inner.img");
  const std::string sevenZip = std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + noiseBytes(5000, 3);
  writeFile(dir / "packed.7z", sevenZip);

  for (const std::string name : {"packed.tar", "packed.7z"}) {
    std::string error;
    ArchiveImageReader fresh;
    const UniqueFd fd = openRead(dir / name);
    ASSERT_TRUE(fresh.OpenDescriptor(fd.get(), std::nullopt, &error)) << name << ": " << error;
    EXPECT_EQ(readPayload(fresh), readFile(dir / name)) << name;
    EXPECT_TRUE(fresh.Finish(&error)) << name << ": " << error;
  }
}

TEST_F(ArchiveImageReaderTest, ExpectedSizeIsCheckedOnlyWhenTheArchiveStatesOne) {
  const std::string raw = rawImage();
  const std::string zip = pack(raw, Packing::Zip);
  const uint64_t size = image().size();
  std::string error;

  EXPECT_TRUE(open(zip, &error, size)) << error;
  EXPECT_FALSE(open(zip, &error, size + 512));
  EXPECT_EQ(error, "The expanded image size does not match the expected image size.");
  // Raw and compressed raw streams do not know their size.
  EXPECT_TRUE(open(raw, &error, size + 512)) << error;
  EXPECT_TRUE(open(pack(raw, Packing::Xz), &error, 1)) << error;
}

TEST_F(ArchiveImageReaderTest, ReaderWithoutHandleIsNotReady) {
  std::string error;
  char buffer[16];
  EXPECT_EQ(reader.Read(buffer, sizeof buffer, &error), -1);
  EXPECT_EQ(error, "The image archive reader is not ready.");
  error.clear();
  EXPECT_FALSE(reader.Finish(&error));
  EXPECT_EQ(error, "The image archive reader is not ready.");
}

TEST_F(ArchiveImageReaderTest, ByteCountOf2To63IsRefused) {
  std::string error;
  ASSERT_TRUE(open(rawImage(), &error)) << error;
  char buffer[16];
  EXPECT_EQ(reader.Read(buffer, std::size_t{1} << 63, &error), -1);
  EXPECT_EQ(error, "The image archive reader is not ready.");
  EXPECT_EQ(reader.Read(buffer, sizeof buffer, &error), 16);
}

TEST_F(ArchiveImageReaderTest, OpeningAgainStartsOver) {
  std::string error;
  ASSERT_TRUE(open(rawImage(), &error)) << error;
  char buffer[100];
  ASSERT_EQ(reader.Read(buffer, sizeof buffer, &error), 100);
  ASSERT_TRUE(open(pack(dir / "image.img", Packing::Gzip), &error)) << error;
  EXPECT_EQ(readPayload(reader), image());
}

TEST_F(ArchiveImageReaderTest, WidePathYieldsTheImage) {
  std::string error;
  const std::filesystem::path path = pack(rawImage(), Packing::Gzip);
  ASSERT_TRUE(reader.Open(path.wstring(), std::nullopt, &error)) << error;
  EXPECT_EQ(readPayload(reader), image());
  EXPECT_TRUE(reader.Finish(&error)) << error;
}

TEST_F(ArchiveImageReaderTest, MissingFileFailsToOpen) {
  std::string error;
  EXPECT_FALSE(reader.Open(std::filesystem::path(dir / "missing").wstring(), std::nullopt, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ArchiveImageReaderTest, NullErrorStringIsAllowed) {
  EXPECT_FALSE(reader.Finish(nullptr));
  EXPECT_TRUE(open(rawImage(), nullptr));
}

}  // namespace
