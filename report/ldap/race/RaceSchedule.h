#pragma once

#include "report/ldap/activedirectory/SiteSelection.h"
#include "report/ldap/plumbing/DnsSrv.h"
#include "report/ldap/race/PingRound.h"
#include "report/ldap/race/RaceServers.h"
#include "report/ldap/race/RaceStarts.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

// When a race for a root entry asks what of which server, the way a domain controller locator asks
// them: the schedule alone, with no socket, asking the time of the clock it is handed.
//
// Servers are connected to in the order given: the first at once, each further one when the tries
// under way have not answered within kStagger, or at once when one fails. Each address, port and
// TLS name is tried once, however many servers lead to it: an ldaps:// server is tried again under
// another name, which its certificate may name where the first did not. A server still being
// looked up holds back the ones after it until a connection is due; the first choice, for the
// first connection, up to a stagger from the race's start. With a ping plan, the servers are pinged
// first, kPingBatch at a time from the race's start, the next batch kPingBatchInterval later while
// no usable reply has come; a place in a batch goes to a server that has an address, and one whose
// address comes later is pinged when it comes. The first usable reply decides the order of
// connection (see SiteSelection) and lets the next connection start at once; a reply that cannot be
// used takes its server out of the race, with every other server at its addresses. When the
// decision sends the client to its site's servers, their records are looked up and awaited for at
// most kStagger, and a site's server whose address is still being looked up is awaited for kStagger
// from the moment its records came, before any server outside the site is connected to. Without a
// decision, connections start kStagger after the race's start (when the first pings were due), or
// as soon as no ping can still be answered. A start that finds no descriptor is made again at the
// next turn, a stagger later at the latest. The race is over with the first root entry, when
// nothing is left that could give one, or at the deadline.
class RaceSchedule {
public:
    RaceSchedule(std::function<Clock::time_point()> clock, RaceStarts& starts,
                 Clock::time_point deadline, std::optional<PingPlan> plan,
                 std::vector<ServerCandidate> servers);

    const ServerCandidate& Candidate(std::size_t server) const {
        return servers_[server].candidate;
    }

    // What came of what was started.
    void AddressesAnswered(std::size_t server, const std::vector<sockaddr_storage>& addresses);
    void PingReplied(std::size_t server, NetlogonReply reply);
    void PingGone(std::size_t server);
    void TryFailed(std::size_t server);
    void TryAnswered(std::size_t server, RootDseEntry entry);
    void SiteRecordsAnswered(const std::vector<SrvRecord>& records);

    // Decides what the outcomes so far call for, and starts what is due now.
    void Turn();
    // The next time at which a turn may start something when nothing else happens before.
    Clock::time_point WakeAt() const;
    bool Over() const;
    RaceResult TakeResult() { return std::move(result_); }

private:
    enum class SiteLookup { None, UnderWay, Answered };

    void PingEnded(std::size_t server);
    void Decide(NetlogonReply reply, Clock::time_point now);
    void StartLookups();
    void StartTries(Clock::time_point now);
    bool AwaitingFirstChoice(Clock::time_point now) const;
    bool MayConnect(Clock::time_point now) const;
    bool AnyPingMayBeAnswered() const;
    std::optional<std::size_t> NextToTry(bool mayPassOver, Clock::time_point now) const;
    bool AwaitingSiteServer(std::size_t server, Clock::time_point now) const;

    std::function<Clock::time_point()> clock_;
    RaceStarts& starts_;
    Clock::time_point deadline_;
    std::optional<PingPlan> plan_;
    RaceServers servers_;
    std::optional<PingRound> pings_;    // of the servers as given; site servers are not pinged
    std::vector<std::size_t> order_;    // the order of connection
    std::vector<std::size_t> answered_; // servers that answered a usable ping, in that order
    std::vector<std::size_t> unfit_;    // servers that answered, but cannot serve
    std::vector<std::size_t> siteServers_;
    std::optional<NetlogonReply> pendingDecision_; // the first usable reply since the last turn
    int triesUnderWay_ = 0;
    int triesStarted_ = 0;
    // Where a try went: the address and port, and the name its certificate was checked against.
    struct Endpoint {
        sockaddr_storage address;
        std::string tlsName;
    };
    std::vector<Endpoint> tried_;                  // every endpoint tried, once each
    std::vector<sockaddr_storage> unfitAddresses_; // of DCs whose replies did not count, port 0
    bool connecting_ = false;                      // connections have begun
    SiteLookup siteLookup_ = SiteLookup::None;
    Clock::time_point startedAt_; // the first pings are due, and the first choice awaited from here
    Clock::time_point nextTryAt_;
    std::optional<Clock::time_point> descriptorsAt_; // a start found no descriptor
    std::optional<Clock::time_point> decidedAt_;
    std::optional<Clock::time_point> siteRecordsAt_;
    RaceResult result_;
};

} // namespace quindral
