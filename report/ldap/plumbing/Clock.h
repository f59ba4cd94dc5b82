#pragma once

#include <chrono>

namespace quindral {

// The program's one clock for deadlines and staggers: steady, whatever the wall clock does.
using Clock = std::chrono::steady_clock;

// How long one thing under way may keep the next waiting, the locator's one stagger: a server
// before the next is connected to as well, a better DNS zone once a worse one has answered.
inline constexpr std::chrono::milliseconds kStagger{250};

} // namespace quindral
