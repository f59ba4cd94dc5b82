#include "report/ldap/plumbing/PollLoop.h"

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
    std::vector<PollWatch> watches;
    std::vector<pollfd> fds;
    for (;;) {
        const auto now = Clock::now();
        party.Turn(now);
        if (done()) {
            return true;
        }
        if (now >= deadline) {
            return false;
        }
        watches.clear();
        auto wake = deadline;
        party.Watch(watches, wake, now);
        fds.clear();
        for (const auto& watch : watches) {
            fds.push_back(pollfd{watch.fd, watch.events, 0});
        }
        if (!WaitUntil(fds, std::min(wake, deadline), now)) {
            return false;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                watches[i].ready(fds[i].revents);
            }
        }
    }
}

} // namespace quindral
