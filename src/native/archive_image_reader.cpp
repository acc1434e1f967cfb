#include "native/archive_image_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include <string_view>

#include "native/xz_bounds.h"

namespace orvane::imager {

namespace {

// libarchive reads the image in blocks of this size.
constexpr std::size_t kBlockBytes = 1048576;

void Set(std::string* error, const char* message) {
  if (error) *error = message;
}

// Stored and deflated entries take a bounded amount of memory to expand;
// other methods (LZMA with a dictionary of gigabytes) may not. libarchive
// names the method of the entry it just read only in the format name it sets
// for it, such as "ZIP 2.0 (deflation)".
bool IsStoredOrDeflated(struct archive* archive) {
  if ((archive_format(archive) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_ZIP) return true;
  const char* name = archive_format_name(archive);
  const std::string_view method = name ? name : "";
  return method.ends_with("(uncompressed)") || method.ends_with("(deflation)");
}

constexpr const char* kMethodRefused = "The zip image's entries must be stored or deflated.";

}  // namespace

ArchiveImageReader::~ArchiveImageReader() {
  if (archive_) archive_read_free(archive_);
}

// The library's own text for the handle when it has one, else `fallback`.
// archive_error_string returns null when the library recorded nothing.
void ArchiveImageReader::Fail(const char* fallback, std::string* error) const {
  const char* text = archive_ ? archive_error_string(archive_) : nullptr;
  Set(error, text ? text : fallback);
}

bool ArchiveImageReader::EnableImageSupport(std::string* error) {
  struct Support {
    int (*enable)(struct archive*);
    const char* fallback;
  };
  // Exactly these, in this order. A warning counts as failure: the gzip and
  // xz filters warn when they would fall back to an external program.
  static constexpr Support kSupport[] = {
      {archive_read_support_filter_none, "Uncompressed image support is unavailable."},
      {archive_read_support_filter_gzip, "Built-in GZip image support is unavailable."},
      {archive_read_support_filter_xz, "Built-in XZ image support is unavailable."},
      {archive_read_support_format_raw, "Raw image support is unavailable."},
      {archive_read_support_format_zip, "ZIP image support is unavailable."},
  };
  for (const Support& support : kSupport) {
    if (support.enable(archive_) != ARCHIVE_OK) {
      Fail(support.fallback, error);
      return false;
    }
  }
  return true;
}

bool ArchiveImageReader::MoveToPayloadEntry(std::optional<uint64_t> expected, std::string* error) {
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int result = archive_read_next_header(archive_, &entry);
    if (result == ARCHIVE_EOF) {
      Set(error, "The image archive does not contain a regular file.");
      return false;
    }
    if (result != ARCHIVE_OK) {
      Fail("Could not read the image archive header.", error);
      return false;
    }
    if (!IsStoredOrDeflated(archive_)) {
      Set(error, kMethodRefused);
      return false;
    }
    if (archive_entry_filetype(entry) != AE_IFREG) {
      archive_read_data_skip(archive_);
      continue;
    }
    // Raw and compressed raw streams do not know their size in advance.
    if (!expected || !archive_entry_size_is_set(entry)) return true;
    const int64_t size = archive_entry_size(entry);
    if (size < 0 || static_cast<uint64_t>(size) != *expected) {
      Set(error, "The expanded image size does not match the expected image size.");
      return false;
    }
    return true;
  }
}

bool ArchiveImageReader::Open(const std::wstring& path, std::optional<uint64_t> expected,
                              std::string* error) {
  if (archive_) archive_read_free(archive_);
  archive_ = nullptr;
  archive_ = archive_read_new();
  if (!archive_) {
    Set(error, "Could not allocate the image archive reader.");
    return false;
  }
  if (!EnableImageSupport(error)) return false;
  if (archive_read_open_filename_w(archive_, path.c_str(), kBlockBytes) != ARCHIVE_OK) {
    Fail("Could not open the image file.", error);
    return false;
  }
  return MoveToPayloadEntry(expected, error);
}

bool ArchiveImageReader::OpenDescriptor(int fd, std::optional<uint64_t> expected,
                                        std::string* error) {
  if (archive_) archive_read_free(archive_);
  archive_ = archive_read_new();
  if (!archive_) {
    Set(error, "Could not allocate the image reader.");
    return false;
  }
  if (!EnableImageSupport(error) || !XzWithinBounds(fd, error)) return false;
  if (archive_read_open_fd(archive_, fd, kBlockBytes) != ARCHIVE_OK) {
    Fail("Could not open the image descriptor.", error);
    return false;
  }
  return MoveToPayloadEntry(expected, error);
}

int64_t ArchiveImageReader::Read(void* buffer, std::size_t count, std::string* error) {
  if (count >= (uint64_t{1} << 63) || !archive_) {
    Set(error, "The image archive reader is not ready.");
    return -1;
  }
  const la_ssize_t result = archive_read_data(archive_, buffer, count);
  if (result < 0) {
    Fail("Could not extract the image archive.", error);
    return -1;
  }
  return result;
}

bool ArchiveImageReader::Finish(std::string* error) {
  if (!archive_) {
    Set(error, "The image archive reader is not ready.");
    return false;
  }
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int result = archive_read_next_header(archive_, &entry);
    if (result == ARCHIVE_EOF) return true;
    if (result != ARCHIVE_OK) {
      Fail("Could not finish reading the image archive.", error);
      return false;
    }
    if (!IsStoredOrDeflated(archive_)) {
      Set(error, kMethodRefused);
      return false;
    }
    if (archive_entry_filetype(entry) == AE_IFREG) {
      Set(error, "The image archive contains more than one regular file.");
      return false;
    }
    archive_read_data_skip(archive_);
  }
}

}  // namespace orvane::imager
