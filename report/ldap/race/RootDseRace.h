#pragma once

#include "report/ldap/host/HostsFile.h"
#include "report/ldap/libldap/LdapConfiguration.h"
#include "report/ldap/libldap/RootDseTry.h"
#include "report/ldap/plumbing/AsyncResolver.h"
#include "report/ldap/plumbing/PollLoop.h"
#include "report/ldap/race/PingExchange.h"
#include "report/ldap/race/RaceSchedule.h"

#include <memory>
#include <optional>
#include <vector>

namespace quindral {

// Asks servers for their root entry, as the schedule says, in one poll loop with everything it
// waits for: the address lookups, the pings and the tries. Each socket's watch carries its own
// handler, which notes what poll found; each turn then steps every part, hands the schedule what
// came of it, and lets the schedule start what is due. Nothing runs past the deadline. When the
// race ends, its resolver goes first, so that no lookup's answer can reach what goes after it,
// then every ping and try.
class RootDseRace final : PollParty, RaceStarts {
public:
    RootDseRace(ServerTimeouts timeouts, Clock::time_point deadline,
                std::optional<PingPlan> pingPlan = std::nullopt);
    ~RootDseRace();
    RootDseRace(const RootDseRace&) = delete;
    RootDseRace& operator=(const RootDseRace&) = delete;

    // Servers are preferred in the order given.
    RaceResult Run(std::vector<ServerCandidate> servers);

private:
    // A part under way for one server, and what the last wait found on its socket.
    template <typename Part> struct Running {
        std::size_t server;
        std::unique_ptr<Part> part;
        short revents = 0;
    };

    void Watch(std::vector<PollWatch>& watches, Clock::time_point& wake,
               Clock::time_point now) override;
    void Turn(Clock::time_point now) override;

    void LookUpAddresses(std::size_t server) override;
    StartOutcome Ping(std::size_t server, const sockaddr_storage& address) override;
    StartOutcome Try(std::size_t server, const sockaddr_storage& address) override;
    void StopPings() override;
    void LookUpSite(const std::vector<std::string>& names) override;

    AsyncResolver& Resolver();
    SystemNames& Names();
    void Close();

    ServerTimeouts timeouts_;
    Clock::time_point deadline_;
    std::optional<PingPlan> pingPlan_;
    std::unique_ptr<RaceSchedule> schedule_;
    std::unique_ptr<AsyncResolver> resolver_;
    std::unique_ptr<SystemNames> names_; // over resolver_, which answers for DNS
    std::vector<Running<RootDseTry>> tries_;
    std::vector<Running<PingExchange>> pings_;
};

} // namespace quindral
