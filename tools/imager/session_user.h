#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct SessionUser {
  uid_t uid;
  gid_t gid;
};

// The user the write is for: `name` when the imager runs as root (or, without
// one, the user who ran it through sudo), otherwise the user running it.
// Throws std::runtime_error.
SessionUser sessionUser(const std::optional<std::string>& name);
