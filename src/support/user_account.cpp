#include "support/user_account.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "support/system_error.h"

std::optional<std::string> homeDirectoryOf(uid_t uid) {
  const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  int err;
  while ((err = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
    buffer.resize(buffer.size() * 2);
  if (err != 0) throwSystemError(err);
  if (found == nullptr) return std::nullopt;
  return std::string(found->pw_dir ? found->pw_dir : "");
}
