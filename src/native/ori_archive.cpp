// The flat interface of the archive image reader. Nothing here throws: every
// failure becomes a null handle, -1 or 0 with a copied message.

#include <cstdio>
#include <new>
#include <string>

#include "native/archive_image_reader.h"
#include "native/ori.h"

using orvane::imager::ArchiveImageReader;

namespace {

void copyMessage(const std::string& message, char* buffer, size_t size) {
  if (size == 0) return;
  std::snprintf(buffer, size, "%s", message.c_str());
}

ArchiveImageReader* reader(void* handle) { return static_cast<ArchiveImageReader*>(handle); }

}  // namespace

extern "C" void* ori_archive_open(int fd, char* error, size_t error_size) {
  try {
    auto* opened = new ArchiveImageReader();
    std::string message;
    if (opened->OpenDescriptor(fd, std::nullopt, &message)) return opened;
    delete opened;
    copyMessage(message, error, error_size);
  } catch (const std::bad_alloc&) {
    copyMessage("Could not allocate the image reader.", error, error_size);
  }
  return nullptr;
}

extern "C" int64_t ori_archive_read(void* handle, void* destination, size_t count, char* error,
                                    size_t error_size) {
  try {
    std::string message;
    const int64_t result = handle ? reader(handle)->Read(destination, count, &message) : -1;
    if (!handle) message = "The image archive reader is not ready.";
    if (result < 0) copyMessage(message, error, error_size);
    return result;
  } catch (const std::bad_alloc&) {
    copyMessage("Could not extract the image archive.", error, error_size);
    return -1;
  }
}

extern "C" int ori_archive_finish(void* handle, char* error, size_t error_size) {
  try {
    std::string message = "The image archive reader is not ready.";
    if (handle && reader(handle)->Finish(&message)) return 1;
    copyMessage(message, error, error_size);
  } catch (const std::bad_alloc&) {
    copyMessage("Could not finish reading the image archive.", error, error_size);
  }
  return 0;
}

extern "C" void ori_archive_close(void* handle) { delete reader(handle); }
