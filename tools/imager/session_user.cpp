#include "session_user.h"

#include <pwd.h>
#include <unistd.h>

#include <stdexcept>

SessionUser sessionUser(const std::optional<std::string>& name) {
  if (geteuid() != 0) {
    if (name) throw std::runtime_error("--user is only for an imager run as root.");
    return {getuid(), getgid()};
  }
  if (!name) throw std::runtime_error("Running as root: name the session user with --user NAME.");
  const passwd* account = getpwnam(name->c_str());
  if (!account) throw std::runtime_error("Unknown user " + *name + ".");
  return {account->pw_uid, account->pw_gid};
}
