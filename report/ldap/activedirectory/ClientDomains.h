#pragma once

#include "report/ldap/plumbing/Clock.h"

#include <optional>
#include <string>
#include <vector>

namespace quindral {

// The rule that orders what the host reports (see host/): the DNS domains in which this client
// looks for its directory servers, best first.
//  1. The domains that a join left (sssd's, Samba's, the host keytab's, see JoinedDomains).
//  2. The Kerberos default realm, where a running sssd has contacted it (a kdcinfo file of that
//     realm): the join that wrote it is live.
//  3. The domain of the host's own name, then each entry of the resolver's search list.
//  4. The Kerberos default realm otherwise, the weakest sign of a join (a leave does not remove it,
//     and packaged template files carry one).
//  5. The other realms sssd has contacted, in order: sssd contacts trusted domains too, so these
//     never come before what names the host's own.
// Realms count in lower case (an AD domain's realm is its DNS name in capitals); one that is not a
// DNS name of letters, digits, hyphens and dots, or that a template file carries, is passed over.
// Each domain once, whatever its case or trailing dot.
std::vector<std::string> DomainsToSearch(const std::vector<std::string>& joined,
                                         const std::vector<std::string>& sssdContacted,
                                         const std::optional<std::string>& hostDomain,
                                         const std::vector<std::string>& searchList,
                                         const std::optional<std::string>& realm);

// The domains to search for this host, by the rule above, from what its own files and name say:
// gathered off the caller's thread (see ClientDomains.cpp), none when that is not done by the
// deadline.
std::vector<std::string> ClientDomains(Clock::time_point deadline);

} // namespace quindral
