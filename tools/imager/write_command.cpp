#include "write_command.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "confirmation.h"
#include "drive_check.h"
#include "drive_session.h"
#include "image_check.h"
#include "image_digest.h"
#include "inspect.h"
#include "interrupts.h"
#include "plain_text.h"
#include "progress_view.h"
#include "records/imager_error.h"
#include "refusal.h"
#include "sizes.h"

namespace {

// The imager's own pass over the image, with the reasons it can fail said
// for people. Ctrl-C stops it at the next chunk.
Inspection measure(const ImageFacts& image, const std::string& typed, uid_t owner, bool show) {
  ProgressView view(show && isatty(STDOUT_FILENO), {""});
  int64_t expanded = 0;
  try {
    Inspection inspection =
        inspectImage(image.path, owner, [&](const char* stage, int64_t done, int64_t total) {
          if (interrupted()) throw ImagerError::cancelled();
          if (std::string_view(stage) == "measuring-expanded") expanded = done;
          if (show) view.show(0, stage, done, total);
        });
    view.finish();
    return inspection;
  } catch (const ImagerError& error) {
    view.finish();
    const std::string name = plainText(typed), message = error.what();
    if (error.isCancelled())
      throw Refusal(ExitCode::interrupted,
                    "Interrupted while measuring the image: nothing was written.");
    if (message == "The image is empty or is not a sector-aligned disk image.")
      throw Refusal(ExitCode::badImage,
                    expanded == 0 ? name + " expands to nothing: download it again."
                                  : name + " expands to " + exactCount(expanded) +
                                        " bytes, not a whole number of 512-byte sectors: it is not "
                                        "a disk image, or it is incomplete.");
    if (message == "Expanded image exceeds the supported size.")
      throw Refusal(ExitCode::badImage,
                    name + " expands to more than the 128 GiB the writer accepts.");
    refuseDamaged(typed, image.packing, message);
  }
}

// Serves every session until each has ended or Ctrl-C comes.
void follow(std::vector<std::unique_ptr<DriveSession>>& sessions, ProgressView& view, bool raw) {
  for (;;) {
    std::vector<pollfd> ready;
    std::vector<size_t> owners;
    for (size_t i = 0; i < sessions.size(); ++i)
      if (!sessions[i]->done()) {
        ready.push_back({sessions[i]->descriptor(), POLLIN, 0});
        owners.push_back(i);
      }
    if (ready.empty() || interrupted()) return;
    if (poll(ready.data(), ready.size(), 200) < 0 && errno != EINTR) return;
    for (size_t k = 0; k < ready.size(); ++k) {
      const size_t i = owners[k];
      sessions[i]->serve(ready[k].revents != 0,
                         [&](const WriteEvent& event, const std::string& line) {
                           if (raw)
                             std::printf("%s\n", line.c_str()), std::fflush(stdout);
                           else if (event.stage != "connected" && event.stage != "complete" &&
                                    event.stage != "error" && event.stage != "cancelled")
                             view.show(i, event.stage, event.completed, event.total);
                         });
    }
  }
}

// One line for how a drive ended; returns its exit status.
ExitCode report(DriveSession& session, int writerExit, bool several) {
  const TargetDisk& disk = session.request().target;
  const std::string where = several ? " on " + disk.bsd : "";
  const auto& closing = session.closing();
  // A drive that was done before Ctrl-C came is done.
  if (closing && closing->stage == "complete" && writerExit == 0) {
    const int64_t bytes = session.request().inspection.expanded;
    std::printf("%s\n", session.clock().summary(bytes, disk).c_str());
    return ExitCode::ok;
  }
  if (interrupted() || (closing && closing->stage == "cancelled")) {
    const bool written = session.reached() == "writing" || session.reached() == "verifying";
    const std::string state =
        written ? disk.bsd + " was partly written and will not start until it is written again."
                : "nothing was written to " + disk.bsd + ".";
    std::fprintf(stderr, "%s%s: %s\n", interrupted() ? "Interrupted" : "Cancelled", where.c_str(),
                 state.c_str());
    return ExitCode::interrupted;
  }
  if (!closing) {
    std::fprintf(stderr, "Failed%s: %s (status %d).\n", where.c_str(), session.failure().c_str(),
                 writerExit);
    return ExitCode::failed;
  }
  const std::string message = closing->message.value_or("");
  // The utility's own words end with a line break of their own.
  std::string shown = plainText(messageFor(message));
  shown.erase(shown.find_last_not_of(' ') + 1);
  std::fprintf(stderr, "Failed%s: %s\n", where.c_str(), shown.c_str());
  if (const std::string hint = hintFor(message); !hint.empty())
    std::fprintf(stderr, "%s\n", hint.c_str());
  return closing->stage == "complete" ? ExitCode::failed : exitCodeFor(message, session.reached());
}

}  // namespace

int writeImage(const WriteOptions& options) {
  catchInterrupts();
  const SessionUser user = sessionUser(options.user);
  // The cheap checks, each before anything is read through or asked.
  const ImageFacts image = checkImage(options.image, user.uid);
  const std::vector<TargetDisk> drives = checkDrives(options.drives, image);
  const std::optional<std::string> digest = expectedDigest(options.sha256, options.image);
  ensureAdminRights();
  confirmErasure(drives, options.yes);

  WriteRequest request;
  request.version = 1;
  request.source = image.path;
  request.uid = user.uid;
  request.inspection = measure(image, options.image, user.uid, !options.events);
  checkDigest(digest, request.inspection, options.image);

  std::vector<std::string> names;
  std::vector<std::unique_ptr<DriveSession>> sessions;
  for (const TargetDisk& drive : drives) {
    request.target = drive;
    names.push_back(drive.bsd);
    sessions.push_back(std::make_unique<DriveSession>(request, user, options.writer));
  }
  ProgressView view(isatty(STDOUT_FILENO) && !options.events, names);
  view.plan(request.inspection.expanded);
  follow(sessions, view, options.events);
  view.finish();
  ExitCode worst = ExitCode::ok;
  for (auto& session : sessions) {
    const int writerExit = session->end();
    const ExitCode code = report(*session, writerExit, sessions.size() > 1);
    if (worst == ExitCode::ok || code == ExitCode::interrupted) worst = code;
  }
  return static_cast<int>(worst);
}
