#pragma once

#include "AsyncResolver.h"
#include "RootDseReader.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

using Clock = std::chrono::steady_clock;

// How long one server may take: to connect to one of its addresses (NETWORK_TIMEOUT of the
// OpenLDAP client configuration, else 5 s), and to answer the search once connected (TIMEOUT, else
// 15 s). Their sum is also the bound on a whole bind, lookups included.
struct ServerTimeouts {
    std::chrono::microseconds connect;
    std::chrono::microseconds search;
};
ServerTimeouts EffectiveTimeouts();

// How long a server may keep the run waiting before the next one is asked as well.
inline constexpr std::chrono::milliseconds kStagger{250};

// One server to ask: its URI (which libldap is given, so that TLS checks the certificate against
// its host name) and where to connect.
struct ServerCandidate {
    std::string uri;
    std::string host; // a name or address to look up; for a local socket, its path
    std::uint16_t port = 0;
    bool tls = false;   // ldaps://
    bool local = false; // ldapi://
};

// The candidate for an LDAP URI (ldap, ldaps or ldapi), or nothing when libldap cannot parse it.
std::optional<ServerCandidate> CandidateOfUri(const std::string& uri);

// Asks servers for their root entry, the way a domain controller locator pings them: the first
// server at once; each further one when the earlier ones have not answered within kStagger, or at
// once when one fails. Every address of a server is a try of its own. The first complete,
// successful reply wins. Nothing runs past the deadline, and every connection and lookup is closed
// when the race goes.
class RootDseRace {
public:
    RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline);
    ~RootDseRace();
    RootDseRace(const RootDseRace&) = delete;
    RootDseRace& operator=(const RootDseRace&) = delete;

    // The winner's root entry, or nothing when every server failed or the deadline came first.
    // Servers are preferred in the order given.
    std::optional<RootDseEntry> Run(std::vector<ServerCandidate> servers);

private:
    struct Server;
    struct Attempt;

    void StartLookups();
    std::optional<std::size_t> PickServer(bool mayPassOver) const;
    bool StartAttempt(std::size_t server, Clock::time_point now);
    bool BeginSearch(Attempt& attempt, Clock::time_point now);
    // Whether the attempt is still under way; sets winner_ when it has the reply.
    bool Advance(Attempt& attempt, short revents, Clock::time_point now);
    bool ReadReply(Attempt& attempt);
    void Close(Attempt& attempt);

    ServerTimeouts timeouts_;
    Clock::time_point deadline_;
    std::unique_ptr<AsyncResolver> resolver_; // made for the first name to look up
    std::vector<Server> servers_;
    std::vector<Attempt> attempts_;
    int lookupsUnderWay_ = 0;
    std::optional<RootDseEntry> winner_;
};

} // namespace quindral
