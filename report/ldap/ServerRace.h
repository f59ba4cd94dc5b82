#pragma once

#include "AsyncResolver.h"
#include "PollLoop.h"
#include "RootDseReader.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quindral {

// How long one server may take: to connect to one of its addresses, TLS handshake included
// (NETWORK_TIMEOUT of the OpenLDAP client configuration, else 5 s), and to answer the search once
// connected (TIMEOUT, else 15 s). Their sum is also the bound on a whole bind, lookups included.
struct ServerTimeouts {
    std::chrono::microseconds connect;
    std::chrono::microseconds search;
};

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
// once when one fails. Every address of a server is a try of its own, and joins as soon as its
// lookup answers. Each try connects, completes its TLS handshake for ldaps:// and searches, all
// without blocking, in one poll loop with the address lookups. The first complete, successful reply
// wins. Nothing runs past the deadline, and when the race goes, its lookups go first (none of
// their answers can arrive any more), then every connection.
class RootDseRace final : PollParty {
public:
    RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline);
    ~RootDseRace();
    RootDseRace(const RootDseRace&) = delete;
    RootDseRace& operator=(const RootDseRace&) = delete;

    // The winner's root entry, or nothing when every server failed or the deadline came first.
    // Servers are preferred in the order given. Each run starts afresh.
    std::optional<RootDseEntry> Run(std::vector<ServerCandidate> servers);

private:
    struct Server;
    struct Attempt;

    void AddPollFds(std::vector<pollfd>& fds, Clock::time_point& wake,
                    Clock::time_point now) override;
    void Process(std::span<const pollfd> polled, Clock::time_point now) override;

    void Reset();
    bool Finished() const;
    void StartLookups();
    void LookUp(std::size_t server, int family);
    std::optional<std::size_t> PickServer(bool mayPassOver) const;
    bool StartAttempt(std::size_t server, Clock::time_point now);
    // Each returns whether the attempt is still under way.
    bool Connected(Attempt& attempt, Clock::time_point now);
    bool StepHandshake(Attempt& attempt, Clock::time_point now);
    bool SendSearch(Attempt& attempt, Clock::time_point now);
    bool Advance(Attempt& attempt, short revents, Clock::time_point now);
    bool ReadReply(Attempt& attempt);
    static void Close(Attempt& attempt);

    ServerTimeouts timeouts_;
    Clock::time_point deadline_;
    std::vector<Server> servers_;
    std::vector<Attempt> attempts_;
    std::size_t attemptsPolled_ = 0; // the first sockets of the last poll are these attempts'
    Clock::time_point nextStart_;
    int lookupsUnderWay_ = 0;
    std::optional<RootDseEntry> winner_;
    // Declared last so that it goes first: no answer can reach a server that is gone.
    std::unique_ptr<AsyncResolver> resolver_;
};

} // namespace quindral
