#pragma once

#include "report/ldap/plumbing/Clock.h"

#include <chrono>
#include <functional>
#include <poll.h>
#include <vector>

namespace quindral {

// One socket that a poll loop waits on, and what to do with what the wait found on it.
struct PollWatch {
    int fd = -1;
    short events = 0;
    std::function<void(short revents)> ready;
};

// Something a poll loop serves. Before each wait it names the sockets it waits for, each with its
// own handler, and the latest time it wants a turn; after the wait the handlers of the sockets
// that poll reported on run, then the party takes its turn.
class PollParty {
public:
    virtual void Watch(std::vector<PollWatch>& watches, Clock::time_point& wake,
                       Clock::time_point now) = 0;
    virtual void Turn(Clock::time_point now) = 0;

protected:
    ~PollParty() = default;
};

// Gives the party turns until done() holds: a first turn at once, then one after each wait.
// True when done() came to hold; false when the deadline came first or poll failed.
bool RunPollLoop(PollParty& party, Clock::time_point deadline, const std::function<bool()>& done);

} // namespace quindral
