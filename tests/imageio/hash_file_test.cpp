#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "imageio/image_io.h"
#include "records/imager_error.h"

namespace {

constexpr int64_t kMiB = 1048576;

class HashFileTest : public ::testing::Test {
 protected:
  std::string image(const std::string& bytes) {
    writeFile(dir / "image.img", bytes);
    return dir / "image.img";
  }

  // The digest, or the pass's failure message; every running total is kept.
  std::string hash(const SourceFile& source) {
    try {
      return ImageIO::hashFile(source, cancel, [&](int64_t total) { totals.push_back(total); });
    } catch (const ImagerError& error) {
      return error.what();
    }
  }

  TempDir dir;
  Cancellation cancel;
  std::vector<int64_t> totals;
};

// FIPS 180-4 examples, through the file and hex.
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
  for (const auto& vector : vectors)
    EXPECT_EQ(hash(SourceFile(image(vector.text), 0, false)), vector.digest);
}

TEST_F(HashFileTest, FileEmptyOrChangedInSizeSinceOpeningIsRefused) {
  const std::string bytes = noiseBytes(kMiB + 10, 6);
  for (const std::string& after : {bytes + "x", bytes.substr(0, 1000), std::string()}) {
    const SourceFile source(image(bytes), 0, false);
    writeFile(dir / "image.img", after);
    EXPECT_EQ(hash(source), "Image changed or is empty.") << after.size();
  }
  totals.clear();
  EXPECT_EQ(hash(SourceFile(image(""), 0, false)), "Image changed or is empty.");
  EXPECT_TRUE(totals.empty());
}

}  // namespace
