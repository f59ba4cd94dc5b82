#pragma once

#include "report/ldap/plumbing/Clock.h"
#include "report/ldap/race/RaceServers.h"
#include "report/ldap/race/RaceStarts.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace quindral {

// The ping round of a race, before any server is connected to: which servers are pinged, when,
// and at which addresses. Its rules, in one place:
//  - kPingBatch servers are pinged at once from the round's start, and kPingBatch more every
//    kPingBatchInterval while no usable reply has come;
//  - of each server, the first address of each family; each address once in the race;
//  - kMaxPings addresses in all.
inline constexpr std::size_t kPingBatch = 5;
inline constexpr std::chrono::milliseconds kPingBatchInterval{100};
inline constexpr std::size_t kMaxPings = 64;

class PingRound {
public:
    // The servers to ping, in order, from the round's start.
    PingRound(std::vector<std::size_t> servers, Clock::time_point start);

    // Pings what the batches due by now allow: a place in a batch goes to a server that has an
    // address to ping, or a ping under way; a server still waiting for its address, or one that
    // can no longer answer, leaves its place to the next. False when a start found no descriptor,
    // and the rest waits for the next turn.
    bool StartDue(RaceServers& servers, RaceStarts& starts, Clock::time_point now);
    // When the next batch is due.
    Clock::time_point NextBatchAt(Clock::time_point now) const;
    // Whether any server pinged may still answer.
    bool MayAnyAnswer(const RaceServers& servers) const;

private:
    std::size_t BatchesDue(Clock::time_point now) const;
    bool PingAddressesOf(std::size_t index, RaceServers& servers, RaceStarts& starts);

    std::vector<std::size_t> servers_;
    Clock::time_point start_;
    std::vector<sockaddr_storage> pinged_; // every address pinged, once each
    std::size_t started_ = 0;
};

} // namespace quindral
