#pragma once

#include "report/ldap/libldap/ServerCandidate.h"

#include <cstddef>
#include <iterator>
#include <sys/socket.h>
#include <vector>

namespace quindral {

// The address families a name is looked up in, one lookup each.
inline constexpr int kAddressFamilies[] = {AF_INET, AF_INET6};

// One server of a race: its addresses as they are known, and how far its pings and tries have
// got through them.
struct RaceServer {
    ServerCandidate candidate;
    std::vector<sockaddr_storage> addresses;
    std::size_t nextTry = 0;     // the next address to connect to
    std::size_t nextPing = 0;    // the next address to ping
    bool lookupsStarted = false; // or none needed
    int lookupsUnderWay = 0;     // address families not yet answered
    int pingsUnderWay = 0;
    bool answered = false; // a ping of it was answered

    bool HasAddressToTry() const { return nextTry < addresses.size(); }
    bool HasAddressToPing() const { return !answered && nextPing < addresses.size(); }
    bool MayGetAddresses() const { return !lookupsStarted || lookupsUnderWay > 0; }
    // Nothing of it is left to connect to.
    bool Exhausted() const { return !HasAddressToTry() && !MayGetAddresses(); }
    // It has not answered a ping, and still may.
    bool MayAnswerPing() const {
        return !answered && (pingsUnderWay > 0 || HasAddressToPing() || MayGetAddresses());
    }
};

// The servers of one race, each known by its index, and their addresses. A numeric host or a local
// socket has its address at once; a name's addresses are looked up ahead of its turn, at most
// kLookupsAhead servers waiting for a first address at a time, and its IPv4 and IPv6 addresses join
// as each family's lookup answers, so that a family that is slow to answer (or never does) holds
// nothing up.
class RaceServers {
public:
    static constexpr int kLookupsAhead = 8;
    // The lookups that each name takes: one per address family.
    static constexpr int kFamilies = static_cast<int>(std::size(kAddressFamilies));

    std::size_t Add(ServerCandidate candidate);
    // The index of the server of this host and port (the host compared without regard to case),
    // added when it is new.
    std::size_t FindOrAdd(ServerCandidate candidate);

    RaceServer& operator[](std::size_t index) { return servers_[index]; }
    const RaceServer& operator[](std::size_t index) const { return servers_[index]; }
    std::size_t size() const { return servers_.size(); }

    // The servers, in the order given, whose lookups start now, each counted as started with both
    // families under way.
    std::vector<std::size_t> LookupsToStart(const std::vector<std::size_t>& order);
    // One family's lookup has answered, with these addresses (none on any failure).
    void FamilyAnswered(std::size_t index, const std::vector<sockaddr_storage>& addresses);

private:
    std::vector<RaceServer> servers_;
};

} // namespace quindral
