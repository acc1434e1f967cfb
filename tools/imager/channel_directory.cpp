#include "channel_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "native/ori.h"
#include "support/system_error.h"

std::string randomUuid() {
  std::random_device random;
  unsigned char bytes[16];
  for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // variant 1
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

ChannelDirectory::ChannelDirectory(uid_t user, gid_t group)
    : user_(user), group_(group), directory_("/private/tmp/ori-" + randomUuid()) {
  socketPath_ = directory_ + "/s";
  if (mkdir(directory_.c_str(), 0700) != 0) throwSystemError();
  if (geteuid() != user_ && chown(directory_.c_str(), user_, group_) != 0) {
    const int err = errno;
    rmdir(directory_.c_str());
    throwSystemError(err);
  }
}

ChannelDirectory::~ChannelDirectory() {
  unlink(socketPath_.c_str());
  rmdir(directory_.c_str());
}

UniqueFd ChannelDirectory::listen() {
  // The peer credentials of a Unix socket are those of the process when it
  // listened, so a root imager borrows the user's identity for that call.
  const bool borrow = geteuid() != user_;
  if (borrow && (setegid(group_) != 0 || seteuid(user_) != 0)) throwSystemError();
  UniqueFd listener(ori_unix_listener(socketPath_.c_str()));
  const int err = errno;
  if (borrow && (seteuid(0) != 0 || setegid(0) != 0)) throwSystemError();
  if (!listener) throwSystemError(err);
  return listener;
}
