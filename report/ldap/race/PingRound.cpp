#include "report/ldap/race/PingRound.h"

#include "report/ldap/plumbing/SocketAddress.h"

#include <algorithm>
#include <utility>

namespace quindral {

PingRound::PingRound(std::vector<std::size_t> servers, Clock::time_point start)
    : servers_(std::move(servers)), start_(start) {}

std::size_t PingRound::BatchesDue(Clock::time_point now) const {
    return 1 + static_cast<std::size_t>((now - start_) / kPingBatchInterval);
}

Clock::time_point PingRound::NextBatchAt(Clock::time_point now) const {
    return start_ + BatchesDue(now) * kPingBatchInterval;
}

bool PingRound::StartDue(RaceServers& servers, RaceStarts& starts, Clock::time_point now) {
    const std::size_t allowed = kPingBatch * BatchesDue(now);
    std::size_t placed = 0;
    for (std::size_t index : servers_) {
        RaceServer& server = servers[index];
        if (!server.MayAnswerPing() || (server.pingsUnderWay == 0 && !server.HasAddressToPing())) {
            continue;
        }
        if (placed++ == allowed) {
            break;
        }
        if (!PingAddressesOf(index, servers, starts)) {
            return false;
        }
    }
    return true;
}

// A name with hundreds of addresses costs a socket or two.
bool PingRound::PingAddressesOf(std::size_t index, RaceServers& servers, RaceStarts& starts) {
    RaceServer& server = servers[index];
    while (server.HasAddressToPing() && started_ < kMaxPings) {
        const sockaddr_storage& address = server.addresses[server.nextPing];
        const auto before = server.addresses.begin() + static_cast<std::ptrdiff_t>(server.nextPing);
        const bool familyPinged = std::any_of(server.addresses.begin(), before, [&](const auto& a) {
            return a.ss_family == address.ss_family;
        });
        const bool pingedAlready = std::any_of(pinged_.begin(), pinged_.end(), [&](const auto& p) {
            return SameEndpoint(p, address);
        });
        if (familyPinged || pingedAlready) {
            ++server.nextPing;
            continue;
        }
        const StartOutcome outcome = starts.Ping(index, address);
        if (outcome == StartOutcome::NoDescriptor) {
            return false;
        }
        ++server.nextPing;
        pinged_.push_back(address);
        if (outcome == StartOutcome::Started) {
            ++server.pingsUnderWay;
            ++started_;
        }
    }
    return true;
}

bool PingRound::MayAnyAnswer(const RaceServers& servers) const {
    return std::any_of(servers_.begin(), servers_.end(),
                       [&](std::size_t i) { return servers[i].MayAnswerPing(); });
}

} // namespace quindral
