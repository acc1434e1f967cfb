#include "records/imager_error.h"
#include "session/writer_main.h"

namespace WriterMain {

// The write job itself is built separately; until it is part of the build the
// session refuses every request with this message rather than touch a drive.
void perform(const WriteRequest&, Cancellation&, const Progress&) {
  throw ImagerError::message("The write job is not available in this build.");
}

}  // namespace WriterMain
