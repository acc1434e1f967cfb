// Runs the writer's session with a job chosen by the test instead of the
// write job. The channel path the writer accepts lies under /private/tmp, so
// the harness first changes its root to a test directory that holds it, with
// /proc bound into it (the sanitizers read it) in a mount namespace of its
// own, which ends with the process.
//
// Environment (read here only, before the session starts):
//   WRITER_HARNESS_ROOT     directory to use as the root
//   WRITER_HARNESS_JOB      "succeed", "fail" or "await-stop"
//   WRITER_HARNESS_MESSAGE  the message of the job's error, if any

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "records/imager_error.h"
#include "session/writer_main.h"

namespace {

WriterMain::Job jobNamed(const std::string& name, const std::string& message) {
  if (name == "succeed")
    return [](const WriteRequest& request, Cancellation&, const Progress& progress) {
      progress({"writing", 0, request.inspection.expanded, std::nullopt});
    };
  if (name == "fail")
    return [message](const WriteRequest&, Cancellation&, const Progress&) {
      throw ImagerError::message(message);
    };
  if (name == "await-stop")
    // Stands for a long job that polls the flag; with a message it fails on
    // its own once the flag is set, as an unrelated error after a stop would.
    return [message](const WriteRequest&, Cancellation& cancellation, const Progress&) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!cancellation.stopped()) {
        if (std::chrono::steady_clock::now() > deadline)
          throw ImagerError::message("The stop flag was never set.");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (!message.empty()) throw ImagerError::message(message);
      cancellation.check();
    };
  return nullptr;
}

bool enterRoot(const std::string& root) {
  const std::string proc = root + "/proc";
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         (mkdir(proc.c_str(), 0555) == 0 || errno == EEXIST) &&
         mount("/proc", proc.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
         chroot(root.c_str()) == 0 && chdir("/") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* root = std::getenv("WRITER_HARNESS_ROOT");
  const char* name = std::getenv("WRITER_HARNESS_JOB");
  const char* message = std::getenv("WRITER_HARNESS_MESSAGE");
  if (root == nullptr || name == nullptr) return 2;
  const WriterMain::Job job = jobNamed(name, message ? message : "");
  if (!job) return 2;
  if (!enterRoot(root)) return 3;
  WriterMain::serve(argc, argv, job);
}
