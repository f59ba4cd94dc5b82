#pragma once

#include "report/ldap/activedirectory/LdapPing.h"
#include "report/ldap/libldap/RootDseSearch.h"

#include <cstddef>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace quindral {

// What the schedule of a race and the race that carries it out share.

// What came of starting a ping or a try: under way, failed at once, or not started for want of a
// descriptor (to be started again when one may be free; the server has not failed).
enum class StartOutcome { Started, Failed, NoDescriptor };

struct RaceResult {
    std::optional<RootDseEntry> entry;  // the winner's root entry
    std::optional<NetlogonReply> reply; // the ping reply that decided, if one did
};

// What the schedule starts. Whoever carries it out reports back what came of it, through the
// schedule's outcome calls; the schedule never starts anything from inside those.
class RaceStarts {
public:
    // Both address families of the server's host.
    virtual void LookUpAddresses(std::size_t server) = 0;
    virtual StartOutcome Ping(std::size_t server, const sockaddr_storage& address) = 0;
    virtual StartOutcome Try(std::size_t server, const sockaddr_storage& address) = 0;
    // Every ping still under way is given up.
    virtual void StopPings() = 0;
    // The SRV names of the client's site, best first; the first with records settles it.
    virtual void LookUpSite(const std::vector<std::string>& names) = 0;

protected:
    ~RaceStarts() = default;
};

} // namespace quindral
