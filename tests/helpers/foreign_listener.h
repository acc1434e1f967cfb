#pragma once

#include <sys/types.h>

#include <string>

#include "support/unique_fd.h"

// A socket listening at `path`, made by a child process that runs as `uid`
// (real and effective) and hands it back. Its peers see `uid` as the owner of
// the other end. Invalid when the child could not listen there.
UniqueFd listenAs(uid_t uid, const std::string& path);
