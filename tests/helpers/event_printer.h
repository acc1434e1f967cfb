#pragma once

#include <ostream>

#include "records/write_event.h"

// Lets test failures show events as their JSON line.
inline void PrintTo(const WriteEvent& event, std::ostream* out) { *out << event.encode(); }
