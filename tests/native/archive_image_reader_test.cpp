#include "native/archive_image_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

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

class ArchiveImageReaderTest : public ::testing::Test {
 protected:
  // Opens `path` by descriptor; the descriptor outlives the reader.
  bool open(const std::string& path, std::string* error,
            std::optional<uint64_t> expected = std::nullopt) {
    fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return reader.OpenDescriptor(fd_.get(), expected, error);
  }

  std::string rawImage() {
    writeFile(dir / "image.img", image());
    return dir / "image.img";
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

// The payload is the first regular file; nothing but directories may follow.
TEST_F(ArchiveImageReaderTest, ZipHoldsExactlyOneRegularFile) {
  std::filesystem::create_directories(dir / "folder/empty");
  writeFile(dir / "folder/image.img", image());
  writeFile(dir / "second.img", "other");
  struct Case {
    const char* name;
    const char* entries;  // in archive order
    bool read;            // the payload before Finish
    const char* error;    // at open, or else at Finish; "" for none
  } cases[] = {
      {"a directory first", "folder/empty folder/image.img", true, ""},
      {"two files", "folder/image.img second.img", true,
       "The image archive contains more than one regular file."},
      {"two files, payload unread", "folder/image.img second.img", false,
       "The image archive contains more than one regular file."},
      {"only directories", "folder/empty", false,
       "The image archive does not contain a regular file."},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir / "packed.zip");
    shell("cd '" + dir.path() + "' && zip -q -X packed.zip " + c.entries);
    std::string error;
    if (!open(dir / "packed.zip", &error)) {
      EXPECT_EQ(error, c.error) << c.name;
      continue;
    }
    if (c.read) {
      EXPECT_EQ(readPayload(reader), image()) << c.name;
    }
    EXPECT_EQ(reader.Finish(&error), *c.error == '\0') << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

// Formats that are not enabled are images like any other bytes; the digest
// checks refuse them later.
TEST_F(ArchiveImageReaderTest, OtherArchivesAreDeliveredByteForByte) {
  writeFile(dir / "inner.img", image());
  shell("cd '" + dir.path() + "' && tar -cf packed.tar inner.img");
  writeFile(dir / "packed.7z", std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + noiseBytes(5000, 3));
  for (const std::string name : {"packed.tar", "packed.7z"}) {
    std::string error;
    ASSERT_TRUE(open(dir / name, &error)) << name << ": " << error;
    EXPECT_EQ(readPayload(reader), readFile(dir / name)) << name;
    EXPECT_TRUE(reader.Finish(&error)) << name << ": " << error;
  }
}

TEST_F(ArchiveImageReaderTest, ExpectedSizeIsCheckedOnlyWhenTheArchiveStatesOne) {
  const std::string raw = rawImage(), zip = pack(raw, Packing::Zip);
  const uint64_t size = image().size();
  std::string error;
  EXPECT_TRUE(open(zip, &error, size)) << error;
  EXPECT_FALSE(open(zip, &error, size + 512));
  EXPECT_EQ(error, "The expanded image size does not match the expected image size.");
  // Raw and compressed raw streams do not know their size.
  EXPECT_TRUE(open(raw, &error, size + 512)) << error;
  EXPECT_TRUE(open(pack(raw, Packing::Xz), &error, 1)) << error;
}

// Opening again, by path this time, starts over; before any open, and with
// a count of 2^63 or more, the reader is not ready.
TEST_F(ArchiveImageReaderTest, OpensAgainAndRefusesWhatItCannotServe) {
  std::string error;
  char buffer[100];
  EXPECT_EQ(reader.Read(buffer, sizeof buffer, &error), -1);
  EXPECT_EQ(error, "The image archive reader is not ready.");
  EXPECT_FALSE(reader.Finish(nullptr));
  ASSERT_TRUE(open(rawImage(), nullptr));
  EXPECT_EQ(reader.Read(buffer, std::size_t{1} << 63, &error), -1);
  ASSERT_EQ(reader.Read(buffer, sizeof buffer, &error), 100);
  const std::filesystem::path gzip = pack(dir / "image.img", Packing::Gzip);
  ASSERT_TRUE(reader.Open(gzip.wstring(), std::nullopt, &error)) << error;
  EXPECT_EQ(readPayload(reader), image());
  error.clear();
  EXPECT_FALSE(reader.Open(L"/nonexistent/image", std::nullopt, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
