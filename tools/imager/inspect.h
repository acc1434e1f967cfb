#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "records/inspection.h"

// Measures an image the way the writer will re-check it: the stored file's
// size and digest, then the expanded image's size and digest. `owner` is the
// user the file must belong to. `progress` sees each stage's bytes done.
Inspection inspectImage(const std::string& path, uint32_t owner,
                        const std::function<void(const char* stage, int64_t done, int64_t total)>& progress);
