#include "imageio/write_run.h"

#include <exception>

#include "imageio/image_io.h"

ConfirmedImage confirmedImage(const TempDir& dir, std::string expanded, Packing packing) {
  writeFile(dir / "image.img", expanded);
  ConfirmedImage image;
  image.path = pack(dir / "image.img", packing);
  const std::string stored = readFile(image.path);
  image.inspection.bytes = static_cast<int64_t>(stored.size());
  image.inspection.sha256 = sha256Of(stored);
  image.inspection.expanded = static_cast<int64_t>(expanded.size());
  image.inspection.expandedSHA256 = sha256Of(expanded);
  image.expanded = std::move(expanded);
  return image;
}

std::string WriteRun::run(const ConfirmedImage& image, int destination, int64_t blockSize) {
  try {
    const SourceFile source(image.path, 0, false);
    ImageIO::writeAndVerify(source, destination, image.inspection, blockSize, cancel,
                            [&](const WriteEvent& event) {
                              events.push_back(event);
                              if (onEvent) onEvent(event);
                            });
    return "";
  } catch (const std::exception& error) {
    return error.what();
  }
}

std::vector<int64_t> WriteRun::completed(const std::string& stage) const {
  std::vector<int64_t> values;
  for (const WriteEvent& event : events)
    if (event.stage == stage) values.push_back(event.completed);
  return values;
}
