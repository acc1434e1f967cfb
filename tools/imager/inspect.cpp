#include "inspect.h"

#include "imageio/image_io.h"
#include "imageio/source_file.h"
#include "records/cancellation.h"

Inspection inspectImage(const std::string& path, uint32_t owner,
                        const std::function<void(const char*, int64_t, int64_t)>& progress) {
  const SourceFile source(path, owner, false);
  const Cancellation never;
  Inspection inspection;
  inspection.bytes = source.size();
  inspection.sha256 = ImageIO::hashFile(source, never, [&](int64_t done) {
    progress("measuring", done, source.size());
  });
  // The expanded size is unknown until the end; the stored size is the best
  // measure of progress through a packed image we have.
  int64_t expanded = 0;
  const ImageIO::StreamResult result =
      ImageIO::stream(source, never, [&](std::span<const uint8_t> chunk) {
        expanded += static_cast<int64_t>(chunk.size());
        progress("measuring-expanded", expanded, 0);
      });
  inspection.expanded = result.bytes;
  inspection.expandedSHA256 = result.sha256;
  return inspection;
}
