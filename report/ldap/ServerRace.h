#pragma once

#include "AsyncResolver.h"
#include "LdapConfiguration.h"
#include "LdapPing.h"
#include "PollLoop.h"
#include "Provider.h"
#include "RootDseReader.h"
#include "ServerCandidate.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

// How long a server may keep the run waiting before the next one is asked as well.
inline constexpr std::chrono::milliseconds kStagger{250};

// Domain controllers found through Active Directory's own records are pinged before they are
// connected to, as the Windows locator pings them: over UDP port 389, for this domain (for a
// global catalog, the forest), and the first usable reply decides the order (see SiteSelection).
struct PingPlan {
    std::string domain;
    Provider provider = Provider::Ldap;
    // The race ends at the first usable reply: all that is wanted of it is its forest's name.
    bool replyIsEnough = false;
};

struct RaceResult {
    std::optional<RootDseEntry> entry;  // the winner's root entry
    std::optional<NetlogonReply> reply; // the ping reply that decided, if one did
};

// Asks servers for their root entry, the way a domain controller locator pings them: the first
// server at once; each further one when the earlier ones have not answered within kStagger, or at
// once when one fails. Every address of a server is a try of its own, and joins as soon as its
// lookup answers. Each try connects, completes its TLS handshake for ldaps:// and searches, all
// without blocking, in one poll loop with the address lookups and the pings. With a ping plan, the
// servers are pinged in the same staggered way before they are connected to; connections start
// when a reply has decided their order, or one stagger after the first ping, or when no ping can
// still be answered. The first complete, successful reply to a search wins. Nothing runs past the
// deadline, and when the race goes, its lookups go first (none of their answers can arrive any
// more), then every ping and connection.
class RootDseRace final : PollParty {
public:
    RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline,
                std::optional<PingPlan> pingPlan = std::nullopt);
    ~RootDseRace();
    RootDseRace(const RootDseRace&) = delete;
    RootDseRace& operator=(const RootDseRace&) = delete;

    // Servers are preferred in the order given. Each run starts afresh.
    RaceResult Run(std::vector<ServerCandidate> servers);

private:
    struct Server;
    struct Attempt;
    struct Ping;

    void AddPollFds(std::vector<pollfd>& fds, Clock::time_point& wake,
                    Clock::time_point now) override;
    void Process(std::span<const pollfd> polled, Clock::time_point now) override;

    void Reset();
    bool Finished() const;
    std::size_t AddServer(ServerCandidate candidate);
    void StartLookups();
    void LookUp(std::size_t server, int family);

    // Connections.
    bool MayConnect(Clock::time_point now) const;
    std::optional<std::size_t> PickServer(bool mayPassOver) const;
    bool StartAttempt(std::size_t server, Clock::time_point now);
    // Each returns whether the attempt is still under way.
    bool Connected(Attempt& attempt, Clock::time_point now);
    bool StepHandshake(Attempt& attempt, Clock::time_point now);
    bool SendSearch(Attempt& attempt, Clock::time_point now);
    bool Advance(Attempt& attempt, short revents, Clock::time_point now);
    bool ReadReply(Attempt& attempt);
    static void Close(Attempt& attempt);

    // Pings.
    std::optional<std::size_t> PickPingServer(bool mayPassOver) const;
    bool StartPing(std::size_t server, Clock::time_point now);
    // Whether the ping may still be answered.
    bool AdvancePing(Ping& ping, short revents, Clock::time_point now);
    void Decide(NetlogonReply reply, Clock::time_point now);
    void AddSiteServers(const std::vector<SrvRecord>& records, Clock::time_point now);
    void ClosePings();

    ServerTimeouts timeouts_;
    Clock::time_point deadline_;
    std::optional<PingPlan> pingPlan_;
    std::vector<Server> servers_;
    std::vector<std::size_t> order_; // the order in which servers are connected to
    std::vector<Attempt> attempts_;
    std::vector<Ping> pings_;
    std::size_t attemptsPolled_ = 0; // the first sockets of the last poll are these attempts',
    std::size_t pingsPolled_ = 0;    // then these pings'
    Clock::time_point nextStart_;
    Clock::time_point nextPing_;
    std::optional<Clock::time_point> firstPing_;
    std::optional<Clock::time_point> decidedAt_;
    bool connecting_ = false; // connections may start
    bool siteLookupUnderWay_ = false;
    std::vector<std::size_t> answered_; // servers that answered a usable ping, in that order
    std::vector<std::size_t> unfit_;    // servers that answered, but cannot serve
    std::vector<std::size_t> siteServers_;
    std::optional<NetlogonReply> pendingDecision_; // the first usable reply of this turn
    RaceResult result_;
    // Declared last so that it goes first: no answer can reach a server that is gone.
    std::unique_ptr<AsyncResolver> resolver_;
};

} // namespace quindral
