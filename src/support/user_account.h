#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// The home directory of the account `uid` as the user database has it:
// nothing when there is no such account, an empty text when it names none.
// Throws std::system_error when the database cannot be read.
std::optional<std::string> homeDirectoryOf(uid_t uid);
