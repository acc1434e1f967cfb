#pragma once

#include <sys/types.h>

#include <string>

#include "support/unique_fd.h"

// The private directory "/private/tmp/ori-<uuid>" (mode 0700, owned by the
// session user) holding the listening socket "s". Both are removed when the
// object goes away.
class ChannelDirectory {
 public:
  // Throws std::system_error when the directory cannot be made.
  ChannelDirectory(uid_t user, gid_t group);
  ~ChannelDirectory();
  ChannelDirectory(const ChannelDirectory&) = delete;
  ChannelDirectory& operator=(const ChannelDirectory&) = delete;

  const std::string& socketPath() const { return socketPath_; }

  // A listener at socketPath() created with the user's identity, so that the
  // writer sees the user at the other end. Throws std::system_error.
  UniqueFd listen();

 private:
  uid_t user_;
  gid_t group_;
  std::string directory_;
  std::string socketPath_;
};

// A random UUID in its canonical lower-case form.
std::string randomUuid();
