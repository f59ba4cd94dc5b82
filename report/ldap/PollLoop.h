#pragma once

#include <chrono>
#include <functional>
#include <poll.h>
#include <span>
#include <vector>

namespace quindral {

using Clock = std::chrono::steady_clock;

// Something a poll loop serves: it names the sockets it waits for and the latest time it wants a
// turn, and takes a turn after every wait with what the wait found on its own sockets.
class PollParty {
public:
    virtual void AddPollFds(std::vector<pollfd>& fds, Clock::time_point& wake,
                            Clock::time_point now) = 0;
    virtual void Process(std::span<const pollfd> polled, Clock::time_point now) = 0;

protected:
    ~PollParty() = default;
};

// Gives the party turns until done() holds: a first turn at once, then one after each wait on its
// sockets. True when done() came to hold; false when the deadline came first or poll failed.
bool RunPollLoop(PollParty& party, Clock::time_point deadline, const std::function<bool()>& done);

} // namespace quindral
