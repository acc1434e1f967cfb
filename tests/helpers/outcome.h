#pragma once

#include <exception>
#include <string>
#include <type_traits>

// What `action` returns ("" when it returns nothing), or `prefix` and the
// text of what it throws.
template <typename Action>
std::string outcomeOf(Action action, const std::string& prefix = "") {
  try {
    if constexpr (std::is_void_v<decltype(action())>) return action(), std::string();
    else return action();
  } catch (const std::exception& error) {
    return prefix + error.what();
  }
}
