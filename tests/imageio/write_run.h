#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "helpers/image_files.h"
#include "helpers/temp_dir.h"
#include "records/cancellation.h"
#include "records/inspection.h"
#include "records/write_event.h"

// A source image as stored and the inspection the user confirmed for it.
struct ConfirmedImage {
  std::string expanded;  // the image bytes
  std::string path;      // the file as stored
  Inspection inspection;
};

// Writes `expanded` into `dir` as image.img, packed as asked.
ConfirmedImage confirmedImage(const TempDir& dir, std::string expanded,
                              Packing packing = Packing::Raw);

// One writeAndVerify call with its events recorded. `onEvent` runs after
// each event is recorded: the place to change the source or the device
// between two steps, or to stop the job.
struct WriteRun {
  // The error's description, or "" on success.
  std::string run(const ConfirmedImage& image, int destination, int64_t blockSize);

  // The `completed` values of the events of one stage, in order.
  std::vector<int64_t> completed(const std::string& stage) const;

  Cancellation cancel;
  std::function<void(const WriteEvent&)> onEvent;
  std::vector<WriteEvent> events;
};

// True for the event that reports the whole of its stage's total.
inline bool isLastOf(const WriteEvent& event, const char* stage) {
  return event.stage == stage && event.completed == event.total;
}
