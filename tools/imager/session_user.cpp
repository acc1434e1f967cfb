#include "session_user.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

SessionUser sessionUser(const std::optional<std::string>& name) {
  if (geteuid() != 0) {
    if (name) throw std::runtime_error("--user is only for an imager run as root.");
    return {getuid(), getgid()};
  }
  // Under sudo the session user is the one who called it.
  const char* caller = std::getenv("SUDO_USER");
  const std::string user = name ? *name : caller && *caller ? caller : "";
  if (user.empty() || (!name && user == "root"))
    throw std::runtime_error("Running as root: name the session user with --user NAME.");
  const passwd* account = getpwnam(user.c_str());
  if (!account) throw std::runtime_error("Unknown user " + user + ".");
  return {account->pw_uid, account->pw_gid};
}
