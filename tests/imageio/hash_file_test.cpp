#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "imageio/image_io.h"
#include "records/imager_error.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr char kChanged[] = "Image changed or is empty.";

class HashFileTest : public ::testing::Test {
 protected:
  std::string image(const std::string& bytes) {
    const std::string path = dir / "image.img";
    writeFile(path, bytes);
    return path;
  }

  // Runs the pass, recording every running total it reports.
  std::string hash(const SourceFile& source) {
    return ImageIO::hashFile(source, cancel, [&](int64_t total) { totals.push_back(total); });
  }

  // The pass's failure message; "" when it succeeds.
  std::string failure(const SourceFile& source) {
    try {
      hash(source);
      return "";
    } catch (const ImagerError& error) {
      return error.what();
    }
  }

  TempDir dir;
  Cancellation cancel;
  std::vector<int64_t> totals;
};

TEST_F(HashFileTest, FipsVectorsThroughTheFile) {
  const struct {
    std::string text;
    const char* digest;
  } vectors[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& vector : vectors) {
    const SourceFile source(image(vector.text), 0, false);
    EXPECT_EQ(hash(source), vector.digest);
  }
}

TEST_F(HashFileTest, EmptyFileIsRefusedWithoutProgress) {
  const SourceFile source(image(""), 0, false);
  EXPECT_EQ(failure(source), kChanged);
  EXPECT_TRUE(totals.empty());
}

TEST_F(HashFileTest, ExactlyOneMebibyteIsOneRead) {
  const std::string bytes = noiseBytes(kMiB, 4);
  const SourceFile source(image(bytes), 0, false);
  EXPECT_EQ(hash(source), sha256Of(bytes));
  EXPECT_EQ(totals, std::vector<int64_t>{kMiB});
}

TEST_F(HashFileTest, StartsFromTheBeginningWhateverTheOffset) {
  const std::string bytes = noiseBytes(2 * kMiB + 100, 5);
  const SourceFile source(image(bytes), 0, false);
  ASSERT_EQ(::lseek(source.fd(), 12345, SEEK_SET), 12345);
  EXPECT_EQ(hash(source), sha256Of(bytes));
  EXPECT_EQ(totals, (std::vector<int64_t>{kMiB, 2 * kMiB, 2 * kMiB + 100}));
  EXPECT_EQ(hash(source), sha256Of(bytes)) << "a second pass reads the file again";
}

TEST_F(HashFileTest, FileThatChangedSizeSinceOpeningIsRefused) {
  const std::string bytes = noiseBytes(kMiB + 10, 6);
  const std::string path = image(bytes);
  struct Case {
    const char* what;
    std::string after;
  };
  const Case cases[] = {
      {"a byte appended", bytes + "x"},
      {"shortened", bytes.substr(0, 1000)},
      {"emptied", ""},
  };
  for (const Case& c : cases) {
    writeFile(path, bytes);
    const SourceFile source(path, 0, false);
    writeFile(path, c.after);
    EXPECT_EQ(failure(source), kChanged) << c.what;
  }
}

TEST_F(HashFileTest, CancellationStopsBeforeTheNextRead) {
  const SourceFile source(image(noiseBytes(3 * kMiB, 7)), 0, false);
  try {
    ImageIO::hashFile(source, cancel, [&](int64_t total) {
      totals.push_back(total);
      cancel.set();
    });
    FAIL() << "the pass finished";
  } catch (const ImagerError& error) {
    EXPECT_TRUE(error.isCancelled());
    EXPECT_STREQ(error.what(), "Operation cancelled.");
  }
  EXPECT_EQ(totals, std::vector<int64_t>{kMiB});
  EXPECT_EQ(::lseek(source.fd(), 0, SEEK_CUR), kMiB) << "read on after the stop";
}

TEST_F(HashFileTest, ProgressErrorEndsThePassUnchanged) {
  const SourceFile source(image(noiseBytes(2 * kMiB, 8)), 0, false);
  struct Disconnected {};
  EXPECT_THROW(ImageIO::hashFile(source, cancel, [](int64_t) { throw Disconnected{}; }),
               Disconnected);
}

}  // namespace
