#pragma once

#include <chrono>

namespace quindral {

// The program's one clock for deadlines and staggers: steady, whatever the wall clock does.
using Clock = std::chrono::steady_clock;

} // namespace quindral
