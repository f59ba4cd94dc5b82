#include "PollLoop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace quindral {

namespace {

// Waits until a socket is ready or the time comes. False when poll fails for good.
bool WaitUntil(std::vector<pollfd>& fds, Clock::time_point wake, Clock::time_point now) {
    // Rounded up, so that a wake time a fraction of a millisecond away is not a busy loop; and
    // never more than poll's int can say (about 24 days).
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    const int timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, INT_MAX));
    return ::poll(fds.data(), fds.size(), timeout) >= 0 || errno == EINTR;
}

} // namespace

bool RunPollLoop(PollParty& party, Clock::time_point deadline, const std::function<bool()>& done) {
    std::vector<pollfd> fds;
    for (;;) {
        const auto now = Clock::now();
        party.Process(fds, now);
        if (done()) {
            return true;
        }
        if (now >= deadline) {
            return false;
        }
        fds.clear();
        auto wake = deadline;
        party.AddPollFds(fds, wake, now);
        for (auto& fd : fds) {
            fd.revents = 0;
        }
        if (!WaitUntil(fds, std::min(wake, deadline), now)) {
            return false;
        }
    }
}

} // namespace quindral
