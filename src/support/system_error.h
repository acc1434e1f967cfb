#pragma once

#include <cerrno>
#include <system_error>

// A platform failure carrying only the system's own text for `err`.
[[noreturn]] inline void throwSystemError(int err = errno) {
  throw std::system_error(err, std::generic_category());
}
